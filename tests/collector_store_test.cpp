// The collector's store on both engines: what it keeps and the page's queries, the schema's
// migrations (including a database written before they existed), what collector processes on
// one database share, and that an acknowledged report survives the collector's SIGKILL.
#include "Server.h"
#include "Store.h"

#include "support/Collector.h"
#include "support/StoreEngines.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

using collector::Json;
using testenv::Collector;

namespace {

collector::Record crash(const std::string& ak, const std::string& ac, const std::string& device,
                        const std::string& reason, double crashTime = 1796700000) {
    char frame[160];
    std::snprintf(frame, sizeof frame, "%-3d %-35s 0x%016lx 0x%016lx %s + %d", 0, "demo", 0x1234ul, 0x1234ul,
                  "_ZN4demo6Ledger7balanceEv", 4);
    collector::Record r;
    r.path = "/cpi/crash";
    r.ak = ak;
    r.tm = "1796700000";
    r.ac = r.itemAc = ac;
    r.body = {{"dei", {{"und", device}, {"av", "1.0(1)"}, {"ov", "12"}}},
              {"data",
               {{"name", "std::out_of_range"},
                {"et", reason + "\n" + frame},
                {"tm", std::to_string(static_cast<long long>(crashTime))}}}};
    collector::extractException(r);
    return r;
}

// Symbols of the image "demo" whose function covers the frame above.
const char* kSymbols = "QUILLON-SYMBOLS 1\nMODULE demo\nBUILD-ID -\nARCH -\nFUNC 1200 400 demo::Ledger::settle()\nEND 1\n";

const char* kEnvelope = R"({"ak":"app","tm":"1796700000","ac":"submit","pro":"5.2.0","ty":"1"})";

}  // namespace

class CollectorStore : public testenv::StoreEngineTest {};
INSTANTIATE_STORE_ENGINES(CollectorStore);

TEST_P(CollectorStore, KeepsEveryKindOfDataAndAnswersThePageQueries) {
    collector::Store store(newDatabase());
    const auto ids = store.addRecords({crash("app", "submit", "d1", "index 5 beyond 0x10"),
                                       crash("app", "submit", "d2", "index 7 beyond 0x20"),
                                       crash("app", "exception", "d1", "bad state"),
                                       crash("other", "register", "d3", "")});
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_LT(ids[0], ids[1]);
    EXPECT_EQ(store.records()[1]["body"]["dei"]["und"], "d2");

    // Every byte of a file comes back; text that is not UTF-8 (a hostile request's) is kept,
    // where the engine cannot keep it as it is, with U+FFFD in place of what is not.
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    const auto file = store.addFile("{\"apikey\":x}", bytes, "ok");
    EXPECT_EQ(store.fileData(file), bytes);
    EXPECT_EQ(store.files()[0]["size"], 256);
    store.addReject("/cpi/crash", "body is not JSON", std::string("ok \xff\xfe\0 end", 10));
    const std::string detail = store.rejects()[0]["detail"].get<std::string>();
    EXPECT_EQ(detail.substr(0, 3), "ok ");
    EXPECT_EQ(detail.substr(detail.size() - 4), " end");
    const auto fb = store.addFeedback("app", "bug", "it broke", {{"k", "v"}}, "ok");
    EXPECT_EQ(store.feedbackItem(fb)->at("message"), "it broke");
    EXPECT_EQ(store.feedbackCount(), 1);
    EXPECT_EQ(store.feedbackPage(10, 0).size(), 1u);

    const Json groups = store.crashGroups("", "");
    ASSERT_EQ(groups.size(), 1u) << groups.dump();
    EXPECT_EQ(groups[0]["count"], 2);
    EXPECT_EQ(groups[0]["devices"], 2);
    EXPECT_EQ(groups[0]["appVersions"], Json::array({"1.0(1)"}));
    EXPECT_EQ(store.crashGroups("", "BEYOND").size(), 1u);
    EXPECT_EQ(store.crashGroups("", "nowhere").size(), 0u);
    EXPECT_EQ(store.crashGroups("other", "").size(), 0u);
    EXPECT_EQ(store.groupCrashes(groups[0]["group"], 10).size(), 2u);
    const Json exceptions = store.exceptionGroups("app", "");
    ASSERT_EQ(exceptions.size(), 1u);
    EXPECT_EQ(exceptions[0]["reason"], "bad state");
    EXPECT_EQ(store.registrations("").size(), 1u);
    EXPECT_EQ(store.appKeys(), Json::array({"app", "other"}));
    EXPECT_EQ(store.record(ids[0])->at("frame"), "demo::Ledger::balance()");

    // A crash in the last moment of a day counts for that day, not the next.
    store.addRecords({crash("late", "submit", "d9", "late", 86400.0 * 20000 + 86399.75)});
    const Json days = store.crashesPerDay(86400.0 * 20000, "late");
    ASSERT_EQ(days.size(), 1u) << days.dump();
    EXPECT_EQ(days[0]["day"], 20000);

    store.reset();
    EXPECT_EQ(store.records().size(), 0u);
    EXPECT_EQ(store.files().size(), 0u);
}

TEST_P(CollectorStore, StoresOnOneDatabaseShareSettingsAndSymbolFiles) {
    const std::string db = newDatabase();
    collector::Store a(db);
    collector::Store b(db);  // a second process's view: opening again migrates nothing twice
    a.addRecords({crash("app", "submit", "d1", "r")});
    EXPECT_EQ(b.records().size(), 1u);

    EXPECT_FALSE(b.setting("policy"));
    a.setSetting("policy", "{\"mode\":\"en1\"}");
    a.setSetting("policy", "{\"mode\":\"http500\"}");
    EXPECT_EQ(b.setting("policy"), "{\"mode\":\"http500\"}");

    EXPECT_FALSE(a.putSymbolFile("app", "1.0(1)", "demo", kSymbols));
    const auto first = b.symbolFileRevision("app", "1.0(1)", "demo");
    ASSERT_TRUE(first);
    EXPECT_TRUE(b.putSymbolFile("app", "1.0(1)", "demo", std::string(kSymbols) + "FUNC 2000 10 0 g()\n"));
    const auto second = a.symbolFile("app", "1.0(1)", "demo");
    ASSERT_TRUE(second);
    EXPECT_NE(second->first, *first);
    EXPECT_NE(second->second.find("g()"), std::string::npos);
    EXPECT_EQ(a.symbolFileKeys(), (std::vector<std::vector<std::string>>{{"app", "1.0(1)", "demo"}}));
    EXPECT_FALSE(a.symbolFileRevision("app", "2.0", "demo"));
}

TEST_P(CollectorStore, RetentionRemovesWhatArrivedBeforeTheCutoffInBatches) {
    collector::Store store(newDatabase());
    store.addRecords({crash("app", "submit", "d1", "a"), crash("app", "submit", "d2", "b"),
                      crash("app", "exception", "d3", "c")});
    store.addFeedback("app", "bug", "m", Json::object(), "ok");
    store.addFile("{}", "bytes", "ok");
    store.addReject("/cpi/crash", "r", "");
    EXPECT_EQ(store.removeBefore(collector::nowSeconds() - 3600), 0);
    EXPECT_EQ(store.records().size(), 3u);
    EXPECT_EQ(store.removeBefore(collector::nowSeconds() + 1, 2), 6);  // three records in two batches
    EXPECT_EQ(store.records().size(), 0u);
    EXPECT_EQ(store.feedbackCount(), 0);
    EXPECT_EQ(store.files().size(), 0u);
    EXPECT_EQ(store.rejects().size(), 0u);
}

// A file written by the collector before its schema had versions (tests/data): its reports,
// feedback, screenshot and rejects stay, and new ones follow them.
TEST(CollectorStore, MigratesADatabaseFromBeforeSchemaVersions) {
    const std::string path = testenv::makeTempDir("collector-migrate") + "/db.sqlite";
    std::filesystem::copy_file(QUILLON_TEST_DATA "/collector-unversioned.db", path);
    {
        collector::Store store(path);
        const Json records = store.records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(store.record(1)->at("frame"), "demo::Ledger::balance()");
        EXPECT_EQ(store.feedback().size(), 1u);
        EXPECT_EQ(store.fileData(1), std::string("\xff\xd8\xff\xe0jpeg\x00\x01", 10));
        EXPECT_EQ(store.rejects().size(), 1u);
        EXPECT_EQ(store.addRecords({crash("app", "submit", "d", "r")}), std::vector<std::int64_t>{3});
        store.setSetting("policy", "{}");
    }
    collector::Store again(path);
    EXPECT_EQ(again.records().size(), 3u);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*), MAX(version) FROM schema_version", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), collector::Store::schemaVersion());  // each step once
    EXPECT_EQ(sqlite3_column_int(st, 1), collector::Store::schemaVersion());
    sqlite3_finalize(st);
    sqlite3_close(db);
}

class CollectorProcesses : public testenv::StoreEngineTest {};
INSTANTIATE_STORE_ENGINES(CollectorProcesses);

// Two collectors on one database answer alike: a screenshot uploaded through one is served by
// the other, the answer policy set on one holds on both, symbols uploaded to one resolve the
// other's crashes.
TEST_P(CollectorProcesses, EveryProcessOnADatabaseServesWhatAnyReceived) {
    const std::string db = newDatabase();
    Collector a({"--db", db}), b({"--db", db});
    const std::string image = std::string("\xff\xd8\xff\xe0 jpeg \x00\x01", 13);
    const std::string ak = "7d2f19ebquake35porchd461a08c27f5";
    const std::string fields = "apikey=" + ak + "op=Ctfile.uploadsuffix=jpgtag=sdk_iostimestamp=1700000000uid=60";
    const std::string signedHeader = R"({"apikey":)" + ak +
                                     R"(,"op":Ctfile.upload,"suffix":jpg,"tag":sdk_ios,"timestamp":1700000000,"uid":60,)"
                                     R"("sig":)" + collector::md5Hex(fields + "K3TRVQW9PLMZ2XH7") + "}";
    const auto up = a.post("/fs.action", image, {{"UPLOAD-JSON", signedHeader}}, "");
    ASSERT_EQ(up.status, 200) << up.body;
    const auto id = Json::parse(up.body)["data"]["fileinfo"]["fileid"].get<std::int64_t>();
    EXPECT_EQ(b.get("/_collector/files/" + std::to_string(id) + ".jpg").body, image);

    a.setPolicy({{"endpoints", {{"crash", {{"mode", "en1"}}}}}});
    const auto answered = b.post("/cpi/crash", crash("app", "submit", "d", "r").body.dump(), {{"UPLOAD-JSON", kEnvelope}});
    EXPECT_EQ(Json::parse(answered.body)["en"], 1) << answered.body;

    const auto sym = a.post("/api/symbols?ak=app&av=1.0(1)", kSymbols, {}, "application/octet-stream");
    ASSERT_EQ(sym.status, 200) << sym.body;
    EXPECT_EQ(Json::parse(b.get("/api/symbols").body).size(), 1u);
    // The frame at 0x1234 is inside the uploaded function now, in both processes, once the
    // regrouping the upload started in the background has run.
    for (Collector* c : {&a, &b}) {
        std::string groups;
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
            if ((groups = c->get("/api/overview").body).find("demo::Ledger::settle()") != std::string::npos) break;
        EXPECT_NE(groups.find("demo::Ledger::settle()"), std::string::npos) << groups;
    }
}

// Reports arrive from several connections while the collector is SIGKILLed; after a restart
// every report that was answered 2xx is stored exactly once.
TEST_P(CollectorProcesses, AcknowledgedReportsSurviveSigkillExactlyOnce) {
    const std::string db = newDatabase();
    auto c = std::make_unique<Collector>(std::vector<std::string>{"--db", db});
    const int port = c->port();
    std::mutex m;
    std::set<std::string> acknowledged;
    std::atomic<int> sent{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(5, 0);
            for (int i = 0; i < 2000; ++i) {
                const std::string mark = std::to_string(t) + "-" + std::to_string(i);
                collector::Record r = crash("app", "submit", "dev-" + mark, "mark " + mark);
                ++sent;
                auto res = client.Post("/cpi/crash", {{"UPLOAD-JSON", kEnvelope}}, r.body.dump(), "application/json");
                if (!res) return;  // the collector is gone
                if (res->status / 100 == 2) {
                    std::lock_guard lock(m);
                    acknowledged.insert(mark);
                }
            }
        });
    while (sent < 200) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c->kill();
    for (auto& s : senders) s.join();
    ASSERT_GT(acknowledged.size(), 0u);
    ASSERT_LT(acknowledged.size(), 8000u) << "the collector was not killed mid-run";

    Collector again({"--db", db});
    std::map<std::string, int> stored;
    for (const auto& r : again.records()) {
        const std::string reason = r["reason"].get<std::string>();
        ++stored[reason.substr(reason.find(' ') + 1)];
    }
    for (const auto& mark : acknowledged) EXPECT_EQ(stored[mark], 1) << mark;
    std::printf("kill test: %zu acknowledged, %zu stored\n", acknowledged.size(), stored.size());
}
