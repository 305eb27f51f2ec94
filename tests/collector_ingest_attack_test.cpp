// What an attacker sends to the collector's reporting endpoints: bodies that crashed a recursive
// matcher or parser, bodies past the size limit (also chunked), numbers and types that broke
// later sums and readers, bytes that are not text, cut-off uploads. Each gets its 4xx or is
// stored safely, and afterwards the collector still answers everyone, its pages and "dump"
// still work, and what it stored before is unchanged.
#include "support/Collector.h"
#include "support/HostProcess.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using platform::Value;
using testenv::Collector;

namespace {

std::string envelope(const std::string& ac) {
    return R"({"ak":"attack","tm":"1700000000","ac":")" + ac + R"(","pro":"5.2.0","ty":"1"})";
}

Collector::Reply crash(Collector& c, const std::string& ac, const std::string& body, const std::string& path = "/cpi/crash") {
    return c.post(path, body, {{"UPLOAD-JSON", envelope(ac)}}, "application/json", 60);
}

std::string record(const std::string& et, const std::string& extra = "") {
    return R"x({"dei":{"und":"dev","av":"1.0(1)","ov":"12"},"data":{"name":"exception Signal","et":)x" +
           Value(et).dump() + extra + "}}";
}

std::string deep(std::size_t n) { return std::string(n, '[') + std::string(n, ']'); }

// Sends raw bytes (headers, then body pieces until the collector stops reading) and returns the
// status of the answer, or -1. The collector closes the connection after such an answer.
int rawStatus(int port, const std::string& head, const std::string& piece = "", std::size_t pieces = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return close(fd), -1;
    timeval tv{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    bool open = send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
    for (std::size_t i = 0; open && i < pieces; ++i)
        open = send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(piece.size());
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : -1;
}

}  // namespace

TEST(CollectorIngestAttack, HostileRequestsAreRefusedOrStoredSafelyAndEveryoneIsStillServed) {
    Collector c;
    const std::string normal = record("SIGSEGV\n0   app   0x0000000000001000 0x0000000000000f00 main + 16");
    ASSERT_EQ(200, crash(c, "submit", normal).status);
    ASSERT_EQ(200, c.post("/cpi/pre", R"({"appkey":"a","messages":[{"data":{"type":"bug","message":"m"}}]})").status);
    const Value before = c.records();

    // Parsed in one pass whatever they hold: a 60 KB token, and 800 KB of repeated hex in 100
    // lines, sent while another client reports.
    EXPECT_EQ(200, crash(c, "submit", record("SIGSEGV\n0   " + std::string(60000, 'a') + " 0x1 0x2 f + 1")).status);
    std::string hex = "SIGSEGV";
    for (int i = 0; i < 100; ++i) hex += "\n" + std::to_string(i) + " " + std::string(8000, 'f');
    int other = 0;
    std::thread worst([&] { EXPECT_EQ(200, crash(c, "submit", record(hex)).status); });
    other = crash(c, "submit", normal).status;
    worst.join();
    EXPECT_EQ(200, other);

    // Nesting 100,000 deep is refused while parsing, on every endpoint that reads JSON.
    const std::string tooDeep = deep(100000);
    EXPECT_EQ(400, crash(c, "submit", "{\"dei\":" + tooDeep + "}").status);
    EXPECT_EQ(400, crash(c, "config", tooDeep, "/").status);
    EXPECT_EQ(400, crash(c, "submore", R"([{"ac":"submit","post":)" + Value(tooDeep).dump() + "}]").status);
    EXPECT_EQ(400, c.post("/cpi/crash", "{}", {{"UPLOAD-JSON", deep(3000)}}).status);
    EXPECT_EQ(400, c.post("/cpi/pre", R"({"logs":)" + Value(tooDeep).dump() + "}").status);
    EXPECT_EQ(400, c.post("/cpi/pre", tooDeep).status);
    EXPECT_EQ(400, c.post("/_collector/policy", tooDeep, {}, "application/json").status);

    // Past the body limit: 413, with a Content-Length and chunked, on a route or not.
    const std::string mib(1 << 20, 'x');
    EXPECT_EQ(413, rawStatus(c.port(), "POST /cpi/crash HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                           std::to_string(65 * mib.size()) + "\r\nUPLOAD-JSON: " + envelope("submit") +
                                           "\r\n\r\n",
                             mib, 65));
    const std::string chunk = "100000\r\n" + mib + "\r\n";
    for (const char* path : {"/cpi/crash", "/nowhere"})
        EXPECT_EQ(413, rawStatus(c.port(), std::string("POST ") + path +
                                               " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                               "Transfer-Encoding: chunked\r\n\r\n",
                                 chunk, 80))
            << path;

    // Counts beyond any sum, fields of the wrong type, and bytes that are not UTF-8.
    const std::string pooled = R"({"dei":{"und":"d","av":[]},"data":{"name":"E","et":"boom","ct":"99999999999999999999"}})";
    EXPECT_EQ(200, crash(c, "exception", pooled).status);
    EXPECT_EQ(200, crash(c, "exception", pooled).status);
    EXPECT_EQ(200, crash(c, "submit", R"({"dei":{"av":{"x":1},"ov":null},"data":{"name":["n"],"et":"r\n1 a 0x1 0x2 s + 1","tm":[]}})").status);
    EXPECT_EQ(400, c.post("/cpi/crash", "{}", {{"UPLOAD-JSON", "{\"ak\":\"\xff\xfe\"}\xc3"}}).status);
    EXPECT_EQ(400, c.post("/cpi/pre", "\xff\xfe{\xc3", {}, "text/plain").status);

    // A multipart upload cut short, and a file id longer than any id.
    EXPECT_EQ(400, c.post("/fs.action", "--XyZ\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nabc", {},
                          "multipart/form-data; boundary=XyZ")
                       .status);
    EXPECT_EQ(404, c.get("/_collector/files/12345678901234567890123.jpg").status);

    // Still alive and answering; the pages, the API and "dump" all work; nothing before changed.
    for (const char* path : {"/", "/exceptions", "/api/overview", "/_collector/records", "/_collector/rejects",
                             "/_collector/feedback"})
        EXPECT_EQ(200, c.get(path).status) << path;
    const Value rejects = c.rejects();
    EXPECT_GE(rejects.size(), 8u);
    const Value after = c.records();
    ASSERT_EQ(before.size() + 6, after.size());
    EXPECT_EQ(before[0], after[0]);
    EXPECT_EQ("[]", after[before.size() + 3]["body"]["dei"]["av"]);  // kept as its text
    const std::string dir = testenv::makeTempDir("attack");
    const auto dump = testenv::runHost({QUILLON_COLLECTOR_PATH, "dump", "--db", c.dbPath()}, dir);
    EXPECT_EQ(0, dump.exitCode()) << dump.err;
    EXPECT_EQ(200, crash(c, "submit", normal).status);
}
