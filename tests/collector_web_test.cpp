// The collector's web page: grouping, demangling and the resolver hook in-process; the
// pages, the JSON API, escaping, the token rule and the control endpoints over HTTP.
#include "Analysis.h"
#include "Server.h"
#include "Store.h"
#include "Web.h"

#include "support/Collector.h"

#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cstdio>

using collector::Json;
using testenv::Collector;

namespace {

std::string line(int i, const char* image, unsigned long addr, unsigned long off, const char* sym, int d) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, "%-3d %-35s 0x%016lx 0x%016lx %s + %d", i, image, addr, off, sym, d);
    return buf;
}

// A crash record as the library sends it; base moves every address, as address-space
// randomisation does.
Json crashBody(const std::string& device, const std::string& av, const std::string& reason, const char* topSymbol,
               unsigned long base = 0x55550000, const std::string& name = "std::out_of_range") {
    const std::string bt = line(0, "quillon_demo", base + 0x1234, 0x1234, "__cxa_throw", 4) + "\n" +
                           line(1, "quillon_demo", base + 0x2000, 0x2000, topSymbol, 16) + "\n" +
                           line(2, "libc.so.6", 0x7f0000027305, 0x27305, "__libc_start_main", 133);
    return {{"dei", {{"und", device}, {"av", av}, {"ov", "12"}, {"mt", "x86_64"}, {"ori", "portrait"}, {"sw", 375}, {"sh", 667}}},
            {"nwt", {{"nt", "1"}, {"isp", ""}}},
            {"data",
             {{"name", name},
              {"et", reason + "\n" + bt},
              {"tm", "1796700000"},
              {"csc", Json::array({{{"une", "tester"}},
                                   {{"bbs", Json::array({{{"tm", 1796699990000000000}, {"nm", "tm"}},
                                                         {{"tm", 1796699999000000000}, {"nm", "opened ledger"}}})}}})},
              {"ty", "2"}}},
            {"mach", {{"tssd", {"1000000"}}, {"assd", {"500"}}, {"pow", {"0.5"}}, {"mem", {"2048"}}, {"cpu", {"0.25"}}}}};
}

collector::Record record(const std::string& ak, const std::string& ac, const Json& body) {
    collector::Record r;
    r.path = "/cpi/crash";
    r.ak = ak;
    r.tm = "1796700000";
    r.ac = r.itemAc = ac;
    r.body = body;
    collector::extractException(r);
    return r;
}

std::string envelope(const std::string& ak, const std::string& ac) {
    return Json{{"ak", ak}, {"tm", "1796700000"}, {"ac", ac}, {"pro", "5.2.0"}, {"ty", "1"}}.dump();
}

const char* kBalance = "_ZN4demo6Ledger7balanceEv";

}  // namespace

TEST(CollectorWeb, GroupsBySameTopApplicationFrameWhateverDeviceVersionOrNumbers) {
    collector::Store store(":memory:");
    store.addRecords({record("app", "submit", crashBody("dev-a", "1.0(1)", "index 5 beyond 0x7ffd0010", kBalance)),
                      record("app", "submit",
                             crashBody("dev-b", "1.1(2)", "index 17 beyond 0x7ffd9999", kBalance, 0x56660000)),
                      record("app", "submit", crashBody("dev-a", "1.0(1)", "index 5 beyond 0x1", "_ZN4demo6Ledger5closeEv")),
                      record("other", "submit", crashBody("dev-a", "1.0(1)", "index 5 beyond 0x1", kBalance))});
    const Json groups = store.crashGroups("", "");
    ASSERT_EQ(groups.size(), 3u) << groups.dump(2);
    const Json* two = nullptr;
    for (const auto& g : groups)
        if (g["count"] == 2) two = &g;
    ASSERT_NE(two, nullptr);
    EXPECT_EQ((*two)["reason"], "index N beyond 0x…");
    EXPECT_EQ((*two)["frame"], "demo::Ledger::balance()");
    EXPECT_EQ((*two)["devices"], 2);
    EXPECT_EQ((*two)["appVersions"].size(), 2u);
    EXPECT_EQ(store.crashGroups("other", "").size(), 1u);
    EXPECT_EQ(store.crashGroups("", "close").size(), 1u);

    // A signal: the handler's frames up to the trampoline in the C library are not the app's.
    const std::string bt = line(0, "quillon_demo", 0x1, 0x1, "(null)", 1) + "\n" +
                           line(1, "libc.so.6", 0x2, 0x3c050, "(null)", 2) + "\n" +
                           line(2, "quillon_demo", 0x3, 0x3000, "(null)", 3);
    const auto frames = collector::parseBacktrace(bt);
    EXPECT_EQ(collector::firstApplicationFrame(frames, true), 2);
    EXPECT_EQ(frames[2].label(), "quillon_demo + 0x3000");
    EXPECT_EQ(collector::firstApplicationFrame(frames, false), 0);
}

TEST(CollectorWeb, DatabasesFromBeforeThePageAreSummarisedWhenOpened) {
    const std::string path = testenv::makeTempDir("collector-old-db") + "/db.sqlite";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const collector::Record r = record("app", "submit", crashBody("d", "1.0(1)", "index 3", kBalance));
    const std::string sql =
        "CREATE TABLE records(id INTEGER PRIMARY KEY AUTOINCREMENT, time REAL, path TEXT, ak TEXT, tm TEXT, ac TEXT,"
        " item_ac TEXT, body TEXT, name TEXT, reason TEXT, backtrace TEXT, answer TEXT);"
        "INSERT INTO records(time, ak, ac, item_ac, body, name, reason, backtrace) VALUES(1, 'app', 'submit', 'submit', '" +
        r.body.dump() + "', '" + r.name + "', '" + r.reason + "', '" + r.backtrace + "')";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    collector::Store store(path);
    const Json groups = store.crashGroups("", "");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]["frame"], "demo::Ledger::balance()");
    EXPECT_EQ(groups[0]["reason"], "index N");
}

TEST(CollectorWeb, DemanglesMasksAndAsksTheResolver) {
    EXPECT_EQ(collector::demangle("_ZN4demo6Ledger7balanceERKSt6vectorIiSaIiEE"),
              "demo::Ledger::balance(std::vector<int, std::allocator<int> > const&)");
    EXPECT_EQ(collector::demangle("main"), "main");
    EXPECT_EQ(collector::demangle("_Zbroken"), "_Zbroken");
    EXPECT_EQ(collector::maskNumbers("signal SIGSEGV at 0xDEAD, utf8 code 12.5 x2"), "signal SIGSEGV at 0x…, utf8 code N x2");

    // Resolved frames name the function whatever the offset, so both crashes share a group.
    collector::FrameResolver resolver = [](const std::string& ak, const std::string& av, const std::string& l)
        -> std::optional<collector::ResolvedFrame> {
        if (ak != "app" || av != "1.0(1)" || l.find("quillon_demo") == std::string::npos) return std::nullopt;
        if (l.find("__cxa_throw") != std::string::npos) return std::nullopt;
        return collector::ResolvedFrame{"demo::Ledger::settle()", "ledger.cpp", 42};
    };
    collector::Store store(":memory:");
    store.addRecords({record("app", "submit", crashBody("d", "1.0(1)", "r", kBalance)),
                      record("app", "submit", crashBody("d", "1.0(1)", "r", "_ZN4demo6Ledger5closeEv"))});
    EXPECT_EQ(store.crashGroups("", "").size(), 2u);
    store.regroup(&resolver);
    const Json groups = store.crashGroups("", "");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]["frame"], "demo::Ledger::settle() (ledger.cpp:42)");

    collector::setFrameResolver(resolver);
    collector::Web web(store, "", false);
    const auto crash = web.crash(1);
    collector::setFrameResolver(nullptr);
    ASSERT_TRUE(crash);
    const Json& f = (*crash)["frames"][1];
    EXPECT_EQ(f["label"], "demo::Ledger::settle() (ledger.cpp:42)");
    EXPECT_TRUE(f["top"].get<bool>());
    EXPECT_NE(f["raw"].get<std::string>().find(kBalance), std::string::npos);  // the line as received stays
}

TEST(CollectorWeb, JsonApiServesEveryView) {
    Collector c;
    for (const auto& [dev, av] : {std::pair{"d1", "1.0(1)"}, {"d2", "1.0(1)"}, {"d1", "1.1(2)"}}) {
        const Json reg = {{"und", dev}, {"av", av}, {"ov", "12"}};
        ASSERT_EQ(c.post("/cpi/crash", reg.dump(), {{"UPLOAD-JSON", envelope("app", "register")}}).status, 200);
    }
    ASSERT_EQ(c.post("/cpi/crash", crashBody("d1", "1.0(1)", "boom 1", kBalance).dump(),
                     {{"UPLOAD-JSON", envelope("app", "submit")}}).status, 200);
    // The same pooled exception sent twice (counted 2, then 3) and another one.
    auto pooled = [](const std::string& ct, const std::string& msg) {
        Json post = crashBody("d1", "1.0(1)", "", "f");
        post["data"] = {{"name", "lua"}, {"et", "\nstack: main.lua:3"}, {"tm", "1796700000"}, {"msg", msg}, {"ty", "3"}, {"ct", ct}};
        return Json{{"ac", "exception"}, {"post", post.dump(2)}};
    };
    for (const Json& batch : {Json::array({pooled("2", "nil index"), pooled("1", "other")}), Json::array({pooled("3", "nil index")})})
        ASSERT_EQ(c.post("/cpi/crash", batch.dump(), {{"UPLOAD-JSON", envelope("app", "submore")}}).status, 200);

    const Json overview = Json::parse(c.get("/api/overview").body);
    EXPECT_EQ(overview["crashCount"], 1);
    EXPECT_EQ(overview["days"].size(), 30u);
    const Json crash = Json::parse(c.get("/api/crashes/4").body);
    EXPECT_EQ(crash["frames"][1]["label"], "demo::Ledger::balance()");
    EXPECT_EQ(crash["user"], "tester");
    EXPECT_EQ(crash["breadcrumbs"][1]["text"], "opened ledger");
    EXPECT_EQ(Json::parse(c.get("/api/crashes/4/raw").body)["dei"]["und"], "d1");
    EXPECT_EQ(c.get("/api/crashes/999").status, 404);

    const Json ex = Json::parse(c.get("/api/exceptions").body);
    ASSERT_EQ(ex["groups"].size(), 2u);
    EXPECT_EQ(ex["occurrences"], 6);
    for (const auto& g : ex["groups"]) {
        EXPECT_EQ(g["language"], "Lua");
        if (g["message"] == "nil index") {
            EXPECT_EQ(g["occurrences"], 5);
        }
    }
    const Json regs = Json::parse(c.get("/api/registrations").body);
    ASSERT_EQ(regs["rows"].size(), 2u);
    EXPECT_EQ(regs["rows"][1]["appVersion"], "1.0(1)");
    EXPECT_EQ(regs["rows"][1]["installations"], 2);
    EXPECT_EQ(Json::parse(c.get("/api/feedback").body)["count"], 0);

    // A crash relayed from an extension shows the extension's identity.
    Json relayed = crashBody("d1", "1.0(1)", "widget", kBalance);
    relayed["dei"]["expid"] = "org.example.widget-extension";
    ASSERT_EQ(c.post("/cpi/crash", relayed.dump(), {{"UPLOAD-JSON", envelope("app", "submit")}}).status, 200);
    EXPECT_EQ(Json::parse(c.get("/api/crashes/8").body)["extension"]["point"], "org.example.widget-extension");
    EXPECT_TRUE(Json::parse(c.get("/api/crashes/4").body)["extension"].is_null());
}

TEST(CollectorWeb, ValuesFromReportsRenderAsText) {
    Collector c;
    const std::string ak = "key \"quoted\" <b>bold</b>";
    ASSERT_EQ(c.post("/cpi/crash", crashBody("d1", "1.0(1)", "<img src=x onerror=alert(2)>", kBalance).dump(),
                     {{"UPLOAD-JSON", envelope(ak, "submit")}}).status, 200);
    const Json report = {{"appkey", ak},
                         {"messages", Json::array({{{"timestamp", 1796700000.5},
                                                    {"data", {{"type", "PROBLEM"}, {"message", "<script>alert(1)</script>"},
                                                              {"keys", {{"modified", Json::array({"javascript:alert(3)"})}}}}}}})},
                         {"operatetrace", Json::array({"2026-12-08 10:00:00 tap <b>Save</b>"})},
                         {"user_data", Json({{"<i>k</i>", "v"}}).dump()}};
    ASSERT_EQ(c.post("/cpi/pre", report.dump()).status, 200);
    for (const char* path : {"/", "/crashes/1", "/feedback", "/feedback/1", "/groups/x"}) {
        const auto page = c.get(path);
        SCOPED_TRACE(path);
        EXPECT_EQ(page.body.find("<script>alert"), std::string::npos);
        EXPECT_EQ(page.body.find("<img src=x"), std::string::npos);
        EXPECT_EQ(page.body.find("<b>bold"), std::string::npos);
        EXPECT_EQ(page.body.find("<b>Save"), std::string::npos);
        EXPECT_EQ(page.body.find("<i>k"), std::string::npos);
        EXPECT_EQ(page.body.find("src=\"javascript"), std::string::npos);
    }
    EXPECT_NE(c.get("/feedback/1").body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(c.get("/").body.find("key &quot;quoted&quot; &lt;b&gt;bold&lt;/b&gt;"), std::string::npos);
}

TEST(CollectorWeb, PageNeedsTheTokenBeyondLoopbackWhileReportingStaysOpen) {
    {
        Collector open;  // loopback: no token
        EXPECT_EQ(open.get("/").status, 200);
    }
    Collector off({"--host", "0.0.0.0"});  // beyond loopback without a token: the page is off
    EXPECT_EQ(off.get("/").status, 403);
    EXPECT_EQ(off.get("/api/overview").status, 403);

    Collector c({"--host", "0.0.0.0", "--admin-token", "s3cret"});
    EXPECT_EQ(c.get("/").status, 401);
    EXPECT_EQ(c.get("/api/overview", {{"Authorization", "Bearer wrong"}}).status, 401);
    EXPECT_EQ(c.get("/files/1.jpg").status, 401);
    EXPECT_EQ(c.get("/api/overview", {{"Authorization", "Bearer s3cret"}}).status, 200);
    // The token in the address once: kept in a cookie, taken out of the address.
    const auto login = c.get("/exceptions?token=s3cret");
    EXPECT_EQ(login.status, 303);
    auto cookie = login.headers.find("Set-Cookie");
    ASSERT_NE(cookie, login.headers.end());
    EXPECT_NE(cookie->second.find("HttpOnly"), std::string::npos);
    EXPECT_EQ(c.get("/exceptions", {{"Cookie", cookie->second.substr(0, cookie->second.find(';'))}}).status, 200);
    // The clients' endpoints need nothing.
    EXPECT_EQ(c.post("/cpi/crash", "{}", {{"UPLOAD-JSON", envelope("app", "register")}}).status, 200);
    EXPECT_EQ(c.post("/cpi/pre", "{}").status, 200);
}

namespace {
// An address of this machine that is not a loopback one, or "".
std::string outsideAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::string found;
    for (ifaddrs* i = list; i && found.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP))
            continue;
        char buf[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, buf, sizeof buf);
        found = buf;
    }
    freeifaddrs(list);
    return found;
}
}  // namespace

TEST(CollectorControl, AnswersOutsidePeersOnlyInTestModeAndHandsOutItsOwnAddress) {
    const std::string outside = outsideAddress();
    if (outside.empty()) GTEST_SKIP() << "this machine has no non-loopback IPv4 address";
    auto fromOutside = [&](Collector& c, const std::string& path) {
        httplib::Client client(outside, c.port());
        client.set_connection_timeout(5);
        auto res = client.Post(path, "{}", "application/json");
        return res ? res->status : -1;
    };
    // Without --test-mode they are not on the public port at all, not even for loopback peers
    // (a proxy on this host makes every client one).
    Collector c({"--host", "0.0.0.0"}, false);
    EXPECT_EQ(fromOutside(c, "/_collector/reset"), 404);
    EXPECT_EQ(fromOutside(c, "/_collector/policy"), 404);
    EXPECT_EQ(c.post("/_collector/reset", "").status, 404);
    Collector test({"--host", "0.0.0.0"});
    EXPECT_EQ(fromOutside(test, "/_collector/reset"), 200);

    // File addresses come from the collector's configuration, not from the client's Host.
    const std::string header = R"({"apikey":7d2f19ebquake35porchd461a08c27f5,"op":Ctfile.upload,"suffix":jpg,"tag":sdk_ios,"timestamp":1700000000,"uid":60,"sig":)" +
                               collector::md5Hex("apikey=7d2f19ebquake35porchd461a08c27f5op=Ctfile.uploadsuffix=jpgtag="
                                                 "sdk_iostimestamp=1700000000uid=60K3TRVQW9PLMZ2XH7") + "}";
    auto urlFrom = [&](Collector& col) {
        const auto r = col.post("/fs.action", "jpeg", {{"UPLOAD-JSON", header}, {"Host", "evil.example:666"}}, "");
        return Json::parse(r.body)["data"]["fileinfo"]["fileUrl"].get<std::string>();
    };
    Collector local;
    EXPECT_EQ(urlFrom(local), local.url("/_collector/files/1.jpg"));
    Collector pub({"--public-url", "http://files.example.org:9/"});
    EXPECT_EQ(urlFrom(pub), "http://files.example.org:9/_collector/files/1.jpg");
    EXPECT_EQ(urlFrom(c).find("evil"), std::string::npos);
}
