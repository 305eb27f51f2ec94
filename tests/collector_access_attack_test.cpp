// The collector as an outsider meets it: hostile records stored through the reporting
// endpoints must leave every page, the JSON API and `dump` whole; slow clients must not hold
// others; state-changing requests from other sites, rebound host names and token-less reads of
// screenshots are refused.
#include "Server.h"
#include "Store.h"

#include "support/Collector.h"
#include "support/HostProcess.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

using collector::Json;
using testenv::Collector;

namespace {

std::string envelope(const std::string& ac) {
    return Json{{"ak", "app"}, {"tm", "1796700000"}, {"ac", ac}, {"pro", "5.2.0"}, {"ty", "1"}}.dump();
}

Json nested(int depth) {
    return Json::parse(std::string(depth, '[') + std::string(depth, ']'));
}

// A request with headers of the test's choosing; status -1 when no answer came.
httplib::Result send(int port, const std::string& method, const std::string& path, const httplib::Headers& headers,
                     const std::string& body = "", const std::string& type = "application/json") {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(10, 0);
    return method == "GET" ? client.Get(path, headers) : client.Post(path, headers, body, type);
}

int status(const httplib::Result& r) { return r ? r->status : -1; }

// The file store's signed header with the collector's default keys.
std::string uploadHeader() {
    const std::string fields = "apikey=7d2f19ebquake35porchd461a08c27f5op=Ctfile.uploadsuffix=jpgtag=sdk_iostimestamp=1700000000uid=60";
    return R"({"apikey":7d2f19ebquake35porchd461a08c27f5,"op":Ctfile.upload,"suffix":jpg,"tag":sdk_ios,"timestamp":1700000000,"uid":60,"sig":)" +
           collector::md5Hex(fields + "K3TRVQW9PLMZ2XH7") + "}";
}

}  // namespace

TEST(CollectorAttack, HostileRecordsLeaveEveryPageTheApiAndDumpWhole) {
    Collector c;
    const std::string big(60000, 'A');
    auto feedback = [&](const Json& data, const Json& extra) {
        Json body = {{"appkey", "app"}, {"messages", Json::array({{{"data", data}}})}};
        body.update(extra);
        return c.post("/cpi/pre", body.dump()).status;
    };
    // Answers may be 200 or a refusal at ingest; what matters is what the pages do afterwards.
    feedback({{"type", "PROBLEM"}, {"message", "digits"},
              {"keys", {{"modified", {"http://x/_collector/files/" + std::string(30000, '7') + ".jpg"}}}}},
             Json::object());
    feedback({{"type", "PROBLEM"}, {"message", std::string(160000, 'm')}},
             {{"logs", Json::array({"[1700000000] " + big, big}).dump()},
              {"operatetrace", Json::array({"2026-12-08 09:00:01 " + big})},
              {"user_data", Json{{"deep", nested(60)}, {"wide", Json(std::vector<int>(20000, 1))}}.dump()}});
    const Json deviceRecord = {{"und", "d"}, {"av", Json::array()}, {"ov", Json::object({{"x", nested(50)}})}};
    c.post("/cpi/crash", deviceRecord.dump(), {{"UPLOAD-JSON", envelope("register")}});
    const std::string trace = "0   demo 0x1 0x1 " + std::string(3000, 'f') + " + 1\n" + std::string(4000, '9');
    for (const char* ac : {"submit", "exception"}) {
        const Json body = {{"dei", deviceRecord},
                           {"nwt", "not an object"},
                           {"data", {{"name", "evil\x1b[31m\nforged line"}, {"et", big + "\n" + trace},
                                     {"msg", big}, {"ct", "3"}, {"tm", "1796700000"}}},
                           {"deep", nested(60)}};
        c.post("/cpi/crash", body.dump(), {{"UPLOAD-JSON", envelope(ac)}});
    }

    const Json records = c.records(), fb = c.feedback();
    EXPECT_GE(records.size() + fb.size(), 3u) << "nothing hostile was stored: the test tests nothing";
    std::vector<std::string> paths = {"/", "/exceptions", "/registrations", "/feedback", "/api/overview",
                                      "/api/exceptions", "/api/registrations", "/api/feedback"};
    for (const auto& r : records) {
        const std::string id = std::to_string(r["id"].get<std::int64_t>());
        paths.insert(paths.end(), {"/crashes/" + id, "/api/crashes/" + id});
    }
    for (const auto& f : fb) {
        const std::string id = std::to_string(f["id"].get<std::int64_t>());
        paths.insert(paths.end(), {"/feedback/" + id, "/api/feedback/" + id});
    }
    for (const auto& g : Json::parse(c.get("/api/overview").body)["groups"]) paths.push_back("/groups/" + g["group"].get<std::string>());
    for (const auto& path : paths) {
        const auto page = c.get(path);
        EXPECT_EQ(page.status, 200) << path;
        EXPECT_LT(page.body.size(), 1u << 20) << path;
    }
    // The whole stored value stays one click away.
    if (!fb.empty()) {
        EXPECT_EQ(c.get("/api/feedback/" + std::to_string(fb.back()["id"].get<std::int64_t>()) + "/raw").status, 200);
    }

    const auto dump = testenv::runHost({QUILLON_COLLECTOR_PATH, "dump", "--db", c.dbPath()}, testenv::makeTempDir("dump"));
    EXPECT_EQ(dump.exitCode(), 0) << dump.err;
    EXPECT_LT(dump.out.size(), 1u << 20);
    EXPECT_EQ(dump.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(dump.out.find("\nforged line"), std::string::npos);
    // A refused request that carried bytes that are not UTF-8 leaves the list of refusals readable.
    c.post("/cpi/crash", "{}", {{"UPLOAD-JSON", "\xff\xfe{"}});
    EXPECT_EQ(c.get("/_collector/rejects").status, 200);
    EXPECT_EQ(c.get("/").status, 200);
}

TEST(CollectorAttack, SlowClientsDoNotHoldOthers) {
    Collector c;
    std::atomic<bool> done{false};
    // 100 connections that send a header line every 3 s, never finishing their heads.
    std::thread slow([&] {
        std::vector<int> socks;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(c.port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < 100; ++i) {
            const int s = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                send(s, "POST /cpi/crash HTTP/1.1\r\n", 26, MSG_NOSIGNAL) > 0)
                socks.push_back(s);
            else
                close(s);
        }
        for (int round = 0; round < 4 && !done; ++round) {
            for (int i = 0; i < 30 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (int s : socks) send(s, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        }
        for (int s : socks) close(s);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    const auto start = std::chrono::steady_clock::now();
    const int page = c.get("/api/overview").status;
    const int report = c.post("/cpi/crash", "{}", {{"UPLOAD-JSON", envelope("register")}}).status;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    done = true;
    slow.join();
    EXPECT_EQ(page, 200);
    EXPECT_EQ(report, 200);
    EXPECT_LT(seconds, 3.0) << "normal requests waited behind slow clients";
}

TEST(CollectorAttack, CrossSiteRequestsAndReboundHostsAreRefused) {
    Collector c({"--control-port", "0"}, false);
    ASSERT_GT(c.controlPort(), 0);
    ASSERT_EQ(c.post("/cpi/pre", R"({"appkey":"app"})").status, 200);
    const int ctl = c.controlPort();
    // Not on the public port: behind a proxy on this host every client is a loopback peer.
    EXPECT_EQ(c.get("/_collector/records").status, 404);
    EXPECT_EQ(c.post("/_collector/reset", "").status, 404);
    // What a page on another site can send: forms and simple fetches.
    EXPECT_EQ(status(send(ctl, "POST", "/_collector/reset", {{"Origin", "http://evil.example"}}, "a=1",
                          "application/x-www-form-urlencoded")), 403);
    EXPECT_EQ(status(send(ctl, "POST", "/_collector/reset", {}, "{}", "text/plain")), 415);
    EXPECT_EQ(status(send(ctl, "POST", "/_collector/policy", {{"Sec-Fetch-Site", "cross-site"}}, R"({"mode":"http500"})")), 403);
    EXPECT_EQ(status(send(c.port(), "POST", "/api/symbols?ak=a&av=1", {}, "x", "text/plain")), 415);
    const auto kept = send(ctl, "GET", "/_collector/feedback", {});
    ASSERT_EQ(status(kept), 200);
    EXPECT_EQ(Json::parse(kept->body).size(), 1u);
    // A name rebound to 127.0.0.1 gets nothing; the collector's own names do.
    EXPECT_EQ(status(send(c.port(), "GET", "/", {{"Host", "evil.example:" + std::to_string(c.port())}})), 421);
    EXPECT_EQ(status(send(ctl, "GET", "/_collector/records", {{"Host", "evil.example"}})), 421);
    EXPECT_EQ(status(send(c.port(), "GET", "/api/overview", {{"Host", "localhost:" + std::to_string(c.port())}})), 200);
    EXPECT_EQ(status(send(ctl, "POST", "/_collector/reset", {}, "", "application/json")), 200);
    EXPECT_EQ(Json::parse(send(ctl, "GET", "/_collector/feedback", {})->body).size(), 0u);
}

TEST(CollectorAttack, ScreenshotsNeedTheTokenAndAreServedAsTheirBytes) {
    // Listening beyond loopback, and behind a proxy on loopback: either way the token rule holds.
    Collector proxied({"--trusted-proxy", "127.0.0.1", "--admin-token", "s3cret"}, false);
    EXPECT_EQ(proxied.get("/").status, 401);
    Collector c({"--host", "0.0.0.0", "--admin-token", "s3cret"}, false);
    const std::string jpeg = "\xFF\xD8\xFF\xE0 not much of a picture";
    for (const std::string& bytes : {std::string("<html><script>alert(1)</script></html>"), jpeg})
        ASSERT_EQ(c.post("/fs.action", bytes, {{"UPLOAD-JSON", uploadHeader()}}, "").status, 200);
    for (const char* path : {"/_collector/files/1.jpg", "/files/1.jpg"}) {
        EXPECT_EQ(c.get(path).status, 401) << path;
        const auto html = c.get(path, {{"Authorization", "Bearer s3cret"}});
        EXPECT_EQ(html.status, 200) << path;
        EXPECT_EQ(html.contentType, "application/octet-stream") << path;
        EXPECT_EQ(html.headers.count("Content-Disposition"), 1u) << path;
        EXPECT_EQ(html.headers.find("X-Content-Type-Options")->second, "nosniff");
    }
    EXPECT_EQ(c.get("/_collector/files/2.jpg", {{"Authorization", "Bearer s3cret"}}).contentType, "image/jpeg");
    const auto page = c.get("/", {{"Authorization", "Bearer s3cret"}});
    ASSERT_EQ(page.status, 200);
    ASSERT_EQ(page.headers.count("Content-Security-Policy"), 1u);
    EXPECT_NE(page.headers.find("Content-Security-Policy")->second.find("default-src 'none'"), std::string::npos);
}
