// The collector's web page with a full database: 10,000 crash records in 50 groups and 1,000
// feedback reports. Figures: the overview (model and HTML) and one crash page, beside the
// baseline of reading every stored record the way /_collector/records does.
#include "Store.h"
#include "Web.h"

#include "support/TestEnv.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <random>

using collector::Json;

namespace {

std::string line(int i, const char* image, unsigned long addr, unsigned long off, const std::string& sym, int d) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, "%-3d %-35s 0x%016lx 0x%016lx %s + %d", i, image, addr, off, sym.c_str(), d);
    return buf;
}

struct Filled {
    std::unique_ptr<collector::Store> store;
    std::unique_ptr<collector::Web> web;
    std::int64_t someCrash = 0;
    Filled() {
        store = std::make_unique<collector::Store>(testenv::makeTempDir("collector-web-bench") + "/db.sqlite");
        std::mt19937 rng(7);
        const double now = collector::nowSeconds();
        for (int batch = 0; batch < 20; ++batch) {
            std::vector<collector::Record> records;
            for (int i = 0; i < 500; ++i) {
                const int g = static_cast<int>(rng() % 50);
                const unsigned long base = 0x550000000000ul + (rng() % 4096) * 0x1000;
                char top[64], reason[96], av[16], dev[16];
                std::snprintf(top, sizeof top, "_ZN4demo7stage%02dEv", g);
                std::snprintf(reason, sizeof reason, "check %d failed at 0x%lx", static_cast<int>(rng() % 1000), base);
                std::snprintf(av, sizeof av, "1.%u(%u)", rng() % 5, 100 + rng() % 5);
                std::snprintf(dev, sizeof dev, "dev-%03u", rng() % 500);
                std::string bt = line(0, "demo", base + 0x100, 0x100, "__cxa_throw", 12) + "\n" +
                                 line(1, "demo", base + 0x2000 + g * 64, 0x2000 + g * 64, top, 16);
                for (int f = 2; f < 20; ++f) bt += "\n" + line(f, "demo", base + f * 0x300, f * 0x300, "(null)", 0);
                Json crumbs = Json::array();
                for (int b = 0; b < 20; ++b)
                    crumbs.push_back({{"tm", static_cast<std::int64_t>((now - 60 + b) * 1e9)}, {"nm", "step " + std::to_string(b)}});
                collector::Record r;
                r.path = "/cpi/crash";
                r.ak = g % 2 ? "bench-app" : "bench-other";
                r.tm = std::to_string(static_cast<long>(now));
                r.ac = r.itemAc = "submit";
                r.body = {{"dei", {{"und", dev}, {"av", av}, {"ov", std::to_string(10 + rng() % 3)}, {"mt", "x86_64"},
                                   {"ori", "portrait"}, {"sw", 375}, {"sh", 667}, {"expid", ""}}},
                          {"nwt", {{"nt", "1"}, {"isp", ""}}},
                          {"data", {{"name", g % 3 ? "std::runtime_error" : "exception Signal"},
                                    {"et", std::string(reason) + "\n" + bt},
                                    {"tm", std::to_string(static_cast<long>(now - (rng() % (30 * 86400))))},
                                    {"csc", Json::array({{{"une", "user"}}, {{"bbs", crumbs}}})},
                                    {"ty", "2"}}},
                          {"mach", {{"tssd", {"1000"}}, {"assd", {"10"}}, {"pow", {"0.5"}}, {"mem", {"100"}}, {"cpu", {"0.1"}}}}};
                collector::extractException(r);
                records.push_back(std::move(r));
            }
            someCrash = store->addRecords(records).back();
        }
        for (int i = 0; i < 1000; ++i) {
            const Json body = {{"appkey", "bench-app"},
                               {"messages", Json::array({{{"timestamp", now - i * 60},
                                                          {"data", {{"type", "PROBLEM"}, {"message", "report " + std::to_string(i)},
                                                                    {"contact", "t@example.org"},
                                                                    {"keys", {{"modified", Json::array({"http://h/_collector/files/" +
                                                                                                         std::to_string(i + 1) + ".jpg"})}}}}}}})},
                               {"operatetrace", Json::array({"2026-12-08 09:00:01 tap Save"})}};
            store->addFeedback("bench-app", "PROBLEM", "report " + std::to_string(i), body, "ok");
        }
        web = std::make_unique<collector::Web>(*store, "", false);
    }
};

Filled& filled() {
    static Filled f;
    return f;
}

void BM_Baseline_ReadAllRecordsAsJson(benchmark::State& state) {
    auto& f = filled();
    for (auto _ : state) benchmark::DoNotOptimize(f.store->records());
}

void BM_OverviewPage(benchmark::State& state) {
    auto& f = filled();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string html = collector::Web::render("overview", f.web->overview("", "", collector::nowSeconds()));
        bytes = html.size();
        benchmark::DoNotOptimize(html);
    }
    state.counters["html_bytes"] = static_cast<double>(bytes);
}

void BM_OverviewPageFiltered(benchmark::State& state) {
    auto& f = filled();
    for (auto _ : state)
        benchmark::DoNotOptimize(collector::Web::render("overview", f.web->overview("bench-app", "stage1", collector::nowSeconds())));
}

void BM_CrashPage(benchmark::State& state) {
    auto& f = filled();
    for (auto _ : state) benchmark::DoNotOptimize(collector::Web::render("crash", *f.web->crash(f.someCrash)));
}

void BM_FeedbackListPage(benchmark::State& state) {
    auto& f = filled();
    for (auto _ : state) benchmark::DoNotOptimize(collector::Web::render("feedbackList", f.web->feedbackList(1)));
}

}  // namespace

BENCHMARK(BM_Baseline_ReadAllRecordsAsJson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OverviewPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OverviewPageFiltered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrashPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FeedbackListPage)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
