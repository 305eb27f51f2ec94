// Symbol files and symbolication: the format's strictness, lookups at range edges, backtrace
// lines and the faulting frame, and a stripped application's crashes resolved by the collector
// from symbols uploaded with quillon-symbols.
#include "SymbolStore.h"
#include "support/Collector.h"
#include "support/CrashFixtures.h"
#include "support/HostProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

using symbols::SymbolFile;

namespace {

SymbolFile sample() {
    SymbolFile sf;
    sf.module = "app";
    sf.buildId = "abcd01";
    sf.arch = "x86_64";
    sf.files = {"src/a.cpp", "src/b c.cpp"};
    sf.functions = {{0x1000, 0x10, "first()"}, {0x1020, 0x8, "ns::second(int, char const*)"}};
    sf.lines = {{0x1000, 0x4, 10, 0}, {0x1004, 0xc, 11, 0}, {0x1020, 0x8, 20, 1}};
    return sf;
}

std::string frameLine(int index, const std::string& image, std::uint64_t offset, const std::string& symbol = "(null)") {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-3d %-35s 0x%016lx 0x%016lx %s + %d", index, image.c_str(),
                  static_cast<unsigned long>(0x7f0000000000 + offset), static_cast<unsigned long>(offset),
                  symbol.c_str(), -12);
    return buf;
}

int lineOf(const std::string& marker) {
    std::ifstream in(SYMBOLS_APP_SOURCE);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
        if (line.find(marker) != std::string::npos) return n;
    return -1;
}

}  // namespace

TEST(SymbolFile, LookupsAtRangeEdgesAreExact) {
    std::string error;
    auto sf = SymbolFile::parse(sample().serialize(), error);
    ASSERT_TRUE(sf) << error;
    EXPECT_EQ("first()", sf->lookup(0x1000)->function);  // first address of a function
    EXPECT_EQ(10u, sf->lookup(0x1003)->line);
    EXPECT_EQ(11u, sf->lookup(0x1004)->line);
    EXPECT_EQ("src/a.cpp", sf->lookup(0x100f)->file);  // its last address
    EXPECT_EQ("first()", sf->lookup(0x100f)->function);
    EXPECT_FALSE(sf->lookup(0x1010));  // between functions
    EXPECT_FALSE(sf->lookup(0x101f));
    EXPECT_FALSE(sf->lookup(0xfff));
    EXPECT_EQ("ns::second(int, char const*)", sf->lookup(0x1020)->function);
    EXPECT_EQ("src/b c.cpp", sf->lookup(0x1027)->file);
    EXPECT_FALSE(sf->lookup(0x1028));
}

TEST(SymbolFile, RefusesCorruptOrTruncatedText) {
    const std::string good = sample().serialize();
    std::string error;
    ASSERT_TRUE(SymbolFile::parse(good, error)) << error;
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const std::string bad[] = {
        "",
        good.substr(0, good.size() - 1),             // last line cut
        good.substr(0, good.find("END")),             // no END
        replace("LINE 1004 c 11 0\n", ""),            // a record lost: END's count no longer matches
        replace("FUNC 1020 8", "FUNC 1008 8"),        // overlapping functions
        replace("LINE 1020 8 20 1", "LINE 1020 8 20 2"),  // unknown file
        replace("QUILLON-SYMBOLS 1", "QUILLON-SYMBOLS 2"),
        replace("FUNC 1000 10 first()", "FUNC 1000 zz first()"),
    };
    for (const auto& text : bad) {
        error.clear();
        EXPECT_FALSE(SymbolFile::parse(text, error)) << text;
        EXPECT_FALSE(error.empty());
    }
    std::string out;
    const std::string gz = symbols::gzip(good);
    EXPECT_TRUE(symbols::gunzipIfNeeded(gz, out, error));
    EXPECT_EQ(good, out);
    EXPECT_FALSE(symbols::gunzipIfNeeded(gz.substr(0, gz.size() / 2), out, error));
    EXPECT_NE(std::string::npos, error.find("truncated")) << error;
    std::string flipped = gz;
    flipped[12] = static_cast<char>(flipped[12] ^ 0x55);
    EXPECT_FALSE(symbols::gunzipIfNeeded(flipped, out, error));
}

TEST(SymbolFile, BacktraceLinesAndTheFaultingFrame) {
    auto f = symbols::parseBacktraceLine(frameLine(12, "my app", 0x14a3e));
    ASSERT_TRUE(f);
    EXPECT_EQ(12, f->index);
    EXPECT_EQ("my app", f->image);
    EXPECT_EQ(0x14a3eu, f->offset);
    EXPECT_EQ("(null)", f->symbol);
    EXPECT_FALSE(symbols::parseBacktraceLine("index 5 beyond bounds"));
    EXPECT_FALSE(symbols::parseBacktraceLine("1111111111111 app 0x0000000000000001 0x0000000000000001 f + 1"));

    symbols::SymbolStore store("");
    std::string error;
    ASSERT_TRUE(store.put("k", "1.0(1)", sample().serialize(), error)) << error;
    // Return addresses are looked up inside the call; the frame a signal interrupted (the one
    // after the trampoline in libc) at its own address.
    const std::string bt = frameLine(0, "app", 0x1021) + "\n" + frameLine(1, "libc.so.6", 0x3c050) + "\n" +
                           frameLine(2, "app", 0x1004) + "\n" + frameLine(3, "app", 0x1004) + "\n" +
                           frameLine(4, "libother.so", 0x1004);
    auto sig = store.resolveBacktrace("k", "1.0(1)", bt, true);
    ASSERT_EQ(5u, sig.size());
    EXPECT_EQ(20u, sig[0]->line);
    EXPECT_FALSE(sig[1]);
    EXPECT_EQ(11u, sig[2]->line);
    EXPECT_EQ(10u, sig[3]->line);
    EXPECT_FALSE(sig[4]);  // an image without symbols stays as it is
    EXPECT_EQ(10u, store.resolveBacktrace("k", "1.0(1)", bt, false)[2]->line);
    EXPECT_FALSE(store.resolveBacktrace("k", "1.0(2)", bt, false)[0]);  // another version's key
}

TEST(Symbols, StrippedApplicationCrashesResolveWithTheirOwnVersionsSymbols) {
    auto c = testenv::startCollector();
    const std::string dir = testenv::makeTempDir("symbols");
    const std::string apps[] = {SYMBOLS_APP_V1, SYMBOLS_APP_V2}, versions[] = {"1.0(1)", "2.0(2)"};
    for (int v = 0; v < 2; ++v) {
        const std::string bundle = testenv::makeTempDir("bundle");
        testenv::writeInfoPlist(bundle, "org.example.symbols", c->host(), std::to_string(v + 1) + ".0",
                                std::to_string(v + 1));
        const auto run = testenv::runHost({apps[v], bundle}, dir);
        EXPECT_EQ(246, run.exitCode()) << run.err;
    }
    platform::Value crashes;
    ASSERT_TRUE(testenv::waitUntil([&] {
        crashes = platform::Value::array();
        for (const auto& r : c->records())
            if (r["name"] == "exception Signal") crashes.push_back(r);
        return crashes.size() == 2;
    }));
    const std::string ak = crashes[0]["ak"].get<std::string>();
    auto upload = [&](int v) {
        return testenv::runHost({QUILLON_SYMBOLS_PATH, "upload", "--collector", c->url(), "--app-key", ak,
                                 "--version", versions[v], apps[v]},
                                dir);
    };
    auto dump = [&] { return testenv::runHost({QUILLON_COLLECTOR_PATH, "dump", "--db", c->dbPath(), "--lines", "20"}, dir).out; };
    // The raw line stays as received; what it resolves to follows it on the same line.
    auto resolvedAfterRaw = [&](const std::string& out, int record, const std::string& marker) {
        std::istringstream bt(crashes[record]["backtrace"].get<std::string>());
        const std::regex want(R"(\(anonymous namespace\)::crashHere\(int\) \(\S*symbols_crash_app\.cpp:)" +
                              std::to_string(lineOf(marker)) + R"(\))");
        std::string raw;
        while (std::getline(bt, raw)) {
            const auto at = out.find("        " + raw);
            if (at == std::string::npos) return "raw line missing: " + raw;
            const auto end = out.find('\n', at);
            const std::string rest = out.substr(at + 8 + raw.size(), end - at - 8 - raw.size());
            if (rest.find("crashHere") != std::string::npos)
                return rest.rfind("  -> ", 0) != 0 || !std::regex_match(rest.substr(5), want)
                           ? "wrong frame: " + rest
                           : std::string("ok");
        }
        return std::string("no resolved crashHere frame");
    };
    // The crash page shows the resolved frame beside the line as received.
    auto pageShows = [&](int record, const std::string& marker) {
        const auto page = platform::Value::parse(
            c->get("/api/crashes/" + std::to_string(crashes[record]["id"].get<std::int64_t>())).body, nullptr, false);
        for (const auto& f : page["frames"])
            if (f["label"].is_string() && f["label"].get<std::string>().find("crashHere") != std::string::npos)
                return f["resolved"] == true &&
                       crashes[record]["backtrace"].get<std::string>().find(f["raw"].get<std::string>()) !=
                           std::string::npos &&
                       f["label"].get<std::string>().find(".cpp:" + std::to_string(lineOf(marker)) + ")") !=
                           std::string::npos;
        return false;
    };

    const auto first = upload(0);
    ASSERT_EQ(0, first.exitCode()) << first.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(first.out, m, std::regex("build-id ([0-9a-f]{40})"))) << first.out;
    std::string out = dump();
    EXPECT_EQ("ok", resolvedAfterRaw(out, 0, "// CRASH-V1")) << out;
    EXPECT_NE("ok", resolvedAfterRaw(out, 1, "// CRASH-V2"));  // version 2 has no symbols yet
    EXPECT_NE(std::string::npos, out.find(m[1].str()));        // the build-id is shown
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(libc\.so\.6 +0x[0-9a-f]+ 0x[0-9a-f]+ [^\n]*\+ -?\d+\n)"))) << out;
    EXPECT_FALSE(std::regex_search(out, std::regex(R"(libc\.so\.6 +0x[0-9a-f]+ 0x[0-9a-f]+ [^\n]*->)")));
    EXPECT_TRUE(pageShows(0, "// CRASH-V1"));
    EXPECT_FALSE(pageShows(1, "// CRASH-V2"));

    ASSERT_EQ(0, upload(1).exitCode());
    out = dump();
    EXPECT_EQ("ok", resolvedAfterRaw(out, 0, "// CRASH-V1")) << out;
    EXPECT_EQ("ok", resolvedAfterRaw(out, 1, "// CRASH-V2")) << out;
    EXPECT_TRUE(pageShows(1, "// CRASH-V2"));
    // Crashes group under the resolved function of their first application frame (regrouped in
    // the background after the upload answered).
    EXPECT_TRUE(testenv::waitUntil(
        [&] { return c->get("/api/overview").body.find("crashHere(int)") != std::string::npos; }))
        << c->get("/api/overview").body;

    // Corrupt or truncated uploads are refused with the reason and change nothing.
    const auto listed = c->get("/api/symbols").body;
    EXPECT_NE(std::string::npos, listed.find(R"x("av":"1.0(1)","image":"symbols_crash_app")x")) << listed;
    std::string text;
    {
        auto d = testenv::runHost({QUILLON_SYMBOLS_PATH, "dump", "--name", "symbols_crash_app", apps[1]}, dir);
        ASSERT_EQ(0, d.exitCode()) << d.err;
        text = d.out;
    }
    const std::string path = "/api/symbols?ak=" + ak + "&av=1.0%281%29";
    const std::string gz = symbols::gzip(text);
    for (const auto& body : {gz.substr(0, gz.size() - 100), symbols::gzip(text.substr(0, text.size() / 2)),
                             text.substr(0, text.rfind("LINE ")), std::string("garbage")}) {
        auto r = c->post(path, body, {}, "application/gzip");
        EXPECT_EQ(400, r.status);
        EXPECT_NE(std::string::npos, r.body.find("\"error\"")) << r.body;
    }
    EXPECT_EQ(listed, c->get("/api/symbols").body);
    EXPECT_EQ(out, dump());
}

TEST(Symbols, DebugFileFoundByBuildIdAndHelp) {
    const std::string dir = testenv::makeTempDir("buildid");
    auto help = testenv::runHost({QUILLON_SYMBOLS_PATH, "--help"}, dir);
    EXPECT_EQ(0, help.exitCode());
    EXPECT_NE(std::string::npos, help.out.find("usage: quillon-symbols dump"));
    // Without its debuglink, the debug file is found under DIR/.build-id/xx/rest.debug.
    const std::string copy = dir + "/app";
    ASSERT_EQ(0, testenv::runHost({"/usr/bin/objcopy", "--remove-section=.gnu_debuglink", SYMBOLS_APP_V1, copy}, dir)
                     .exitCode());
    auto bare = testenv::runHost({QUILLON_SYMBOLS_PATH, "dump", copy}, dir);  // its dynamic symbols only
    EXPECT_EQ(std::string::npos, bare.out.find("crashHere")) << bare.out;
    std::ifstream in(std::string(SYMBOLS_APP_V1) + ".debug", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    // The build-id is the debug file's too; read it from a dump of the debug file itself.
    auto debugDump = testenv::runHost({QUILLON_SYMBOLS_PATH, "dump", std::string(SYMBOLS_APP_V1) + ".debug"}, dir);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(debugDump.out, m, std::regex("BUILD-ID ([0-9a-f]{2})([0-9a-f]+)")));
    const std::string target = dir + "/dbg/.build-id/" + m[1].str();
    std::filesystem::create_directories(target);
    std::ofstream(target + "/" + m[2].str() + ".debug", std::ios::binary) << bytes.str();
    auto found = testenv::runHost({QUILLON_SYMBOLS_PATH, "dump", "--debug-dir", dir + "/dbg", copy}, dir);
    ASSERT_EQ(0, found.exitCode()) << found.err;
    EXPECT_NE(std::string::npos, found.out.find("MODULE app\n"));
    EXPECT_NE(std::string::npos, found.out.find("(anonymous namespace)::crashHere(int)\n"));
    EXPECT_NE(std::string::npos, found.out.find("symbols_crash_app.cpp\n"));
}

TEST(Symbols, UploadsNeedTheAdminTokenBeyondLoopback) {
    testenv::Collector c({"--host", "0.0.0.0", "--admin-token", "s3cret"});
    const std::string dir = testenv::makeTempDir("token");
    auto upload = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {QUILLON_SYMBOLS_PATH, "upload", "--collector", c.url(), "--app-key", "k",
                                         "--version", "1.0(1)", SYMBOLS_APP_V1};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return testenv::runHost(argv, dir);
    };
    const auto refused = upload({});
    EXPECT_EQ(1, refused.exitCode());
    EXPECT_NE(std::string::npos, refused.err.find("HTTP 401")) << refused.err;
    EXPECT_EQ(0, upload({"--token", "s3cret"}).exitCode());
    EXPECT_NE(std::string::npos, c.get("/api/symbols?token=s3cret").body.find("symbols_crash_app"));
}
