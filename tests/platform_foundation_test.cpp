#include "platform/foundation/Bundle.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/foundation/Value.h"
#include "support/TestEnv.h"

#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#include <chrono>
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <thread>

using namespace platform;

namespace {

// A record with every kind of value, negative integers and non-ASCII text included.
Value sampleRecord() {
    Value v = dict();
    v["zeta"] = "first key written";
    v["neg"] = -42;
    v["min"] = std::numeric_limits<std::int64_t>::min();
    v["max"] = std::numeric_limits<std::int64_t>::max();
    v["text"] = "Grüße, 日本語, emoji \xF0\x9F\x98\x80 & <tags>";
    v["real"] = -3.25;
    v["yes"] = true;
    v["no"] = false;
    v["bytes"] = bytesValue({0x00, 0xff, 0x10, 0x80});
    v["list"] = array();
    v["list"].push_back("a");
    v["list"].push_back(dict());
    v["list"].push_back(array());
    v["alpha"] = "";
    return v;
}

std::vector<std::string> keysOf(const Value& v) {
    std::vector<std::string> keys;
    for (auto it = v.begin(); it != v.end(); ++it) keys.push_back(it.key());
    return keys;
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(Value, NumbersAndNumericStrings) {
    EXPECT_EQ(integerValue(Value(" 42")), 42);
    EXPECT_EQ(integerValue(Value("-7")), -7);
    EXPECT_EQ(integerValue(Value("+8abc")), 8);
    EXPECT_EQ(integerValue(Value("3.9")), 3);
    EXPECT_EQ(integerValue(Value("abc")), 0);
    EXPECT_EQ(integerValue(Value("")), 0);
    EXPECT_EQ(integerValue(Value(true)), 1);
    EXPECT_EQ(integerValue(Value(-2.7)), -2);
    EXPECT_EQ(integerValue(Value(1e300)), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(integerValue(Value("99999999999999999999")), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(integerValue(Value()), 0);
    EXPECT_EQ(integerValue(dict()), 0);
    EXPECT_DOUBLE_EQ(doubleValue(Value(" 2.5e1x")), 25.0);
    EXPECT_DOUBLE_EQ(doubleValue(Value("0x10")), 0.0);
    EXPECT_DOUBLE_EQ(doubleValue(Value(3)), 3.0);
}

TEST(Value, LookupsNeverThrow) {
    Value v = dict();
    v["s"] = "x";
    v["n"] = nullptr;
    v["i"] = 5;
    EXPECT_EQ(find(Value(5), "s"), nullptr);
    EXPECT_EQ(find(v, "missing"), nullptr);
    ASSERT_NE(find(v, "s"), nullptr);
    EXPECT_TRUE(hasNonNull(v, "s"));
    EXPECT_FALSE(hasNonNull(v, "n"));
    EXPECT_FALSE(hasNonNull(array(), "s"));
    EXPECT_EQ(textOrEmpty(v, "s"), "x");
    EXPECT_EQ(textOrEmpty(v, "n"), "");
    EXPECT_EQ(textOrEmpty(v, "i"), "");
    EXPECT_EQ(stringValue(Value(1)), std::nullopt);
    EXPECT_EQ(describe(Value()), "(null)");
    EXPECT_EQ(describe(Value("bare")), "bare");
}

TEST(Value, JSON) {
    EXPECT_EQ(parseJSON("{\"a\":"), std::nullopt);
    EXPECT_EQ(parseJSON(""), std::nullopt);
    EXPECT_EQ(parseJSON("[1,2] trailing"), std::nullopt);
    EXPECT_EQ(parseJSON(std::string(100000, '[') + std::string(100000, ']')), std::nullopt);
    EXPECT_TRUE(parseJSON(std::string(100, '[') + std::string(100, ']')));
    auto parsed = parseJSON("{\"b\":1,\"a\":[true,null]}");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(keysOf(*parsed), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(toJSON(*parsed, false), "{\"b\":1,\"a\":[true,null]}");
    EXPECT_EQ(toJSON(*parsed, true), "{\n  \"b\": 1,\n  \"a\": [\n    true,\n    null\n  ]\n}");

    Value odd = dict();
    odd["bad"] = std::string("a\xff") + "b";
    odd["data"] = bytesValue({'h', 'i', '!'});
    EXPECT_EQ(toJSON(odd, false), "{\"bad\":\"a\xEF\xBF\xBD" "b\",\"data\":\"aGkh\"}");
}

TEST(PropertyList, RoundTripKeepsTypesOrderAndText) {
    Value v = sampleRecord();
    auto xml = toXMLPropertyList(v);
    ASSERT_TRUE(xml);
    EXPECT_EQ(xml->rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n",
                         0),
              0u);
    EXPECT_NE(xml->find("<integer>-42</integer>"), std::string::npos);
    auto back = parseXMLPropertyList(*xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
    EXPECT_EQ(keysOf(*back), keysOf(v));
    EXPECT_EQ((*back)["neg"].get<std::int64_t>(), -42);
    EXPECT_EQ((*back)["text"], v["text"]);
    EXPECT_TRUE((*back)["bytes"].is_binary());
}

TEST(PropertyList, ControlCharactersAndWhitespaceSurvive) {
    Value v = array();
    v.push_back("  ");
    v.push_back("a\r\nb\x01\tc");
    auto back = parseXMLPropertyList(toXMLPropertyList(v).value());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
}

TEST(PropertyList, NullAnywhereFailsWriting) {
    EXPECT_EQ(toXMLPropertyList(Value()), std::nullopt);
    Value v = dict();
    v["list"] = array();
    v["list"].push_back(nullptr);
    EXPECT_EQ(toXMLPropertyList(v), std::nullopt);
}

TEST(PropertyList, ReadsForeignFormsAndRejectsMalformed) {
    auto v = parseXMLPropertyList(
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
        "<key>d</key><date>1970-01-02T00:00:00Z</date>"
        "<key>r</key><real>1.5</real>"
        "<key>c</key><string><![CDATA[<x>]]></string>"
        "<key>big</key><integer>18446744073709551615</integer>"
        "<key>data</key><data>\n\tAAEC\n</data>"
        "</dict></plist>");
    ASSERT_TRUE(v);
    EXPECT_DOUBLE_EQ((*v)["d"].get<double>(), 86400.0);
    EXPECT_DOUBLE_EQ((*v)["r"].get<double>(), 1.5);
    EXPECT_EQ((*v)["c"], "<x>");
    EXPECT_EQ((*v)["big"].get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ((*v)["data"], bytesValue({0, 1, 2}));

    const char* bad[] = {
        "",
        "not xml",
        "<plist><dict><key>a</key></dict></plist>",                  // key without value
        "<plist><dict><string>a</string><true/></dict></plist>",     // value where a key belongs
        "<plist><integer>12x</integer></plist>",
        "<plist><integer>99999999999999999999</integer></plist>",
        "<plist><real>abc</real></plist>",
        "<plist><data>!!</data></plist>",
        "<plist><date>yesterday</date></plist>",
        "<plist><unknown/></plist>",
        "<plist><true/><false/></plist>",
        "<plist><array><string>a</string>",
        "<dict></dict>",
    };
    for (const char* text : bad) EXPECT_EQ(parseXMLPropertyList(text), std::nullopt) << text;

    std::string deep = "<plist>";
    for (int i = 0; i < 5000; ++i) deep += "<array>";
    for (int i = 0; i < 5000; ++i) deep += "</array>";
    EXPECT_EQ(parseXMLPropertyList(deep + "</plist>"), std::nullopt);
}

TEST(KeyedArchive, RoundTripsAndRejectsMalformed) {
    Value v = sampleRecord();
    auto data = keyedArchive(v);
    ASSERT_TRUE(data);
    auto back = keyedUnarchive(*data);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
    EXPECT_EQ(keysOf(*back), keysOf(v));
    EXPECT_EQ(integerValue((*back)["neg"]), -42);
    EXPECT_EQ((*back)["text"], v["text"]);

    EXPECT_EQ(keyedUnarchive(keyedArchive(Value("")).value()), Value(""));
    EXPECT_EQ(keyedUnarchive(Bytes{}), std::nullopt);
    EXPECT_EQ(keyedUnarchive(Bytes{'h', 'e', 'l', 'l', 'o'}), std::nullopt);
    Bytes truncated(data->begin(), data->end() - 3);
    EXPECT_EQ(keyedUnarchive(truncated), std::nullopt);
    Bytes trailing = *data;
    trailing.push_back(0);
    EXPECT_EQ(keyedUnarchive(trailing), std::nullopt);
    // A well-formed container of another kind is not an archive.
    EXPECT_EQ(keyedUnarchive(Value::to_cbor(Value{{"root", 1}})), std::nullopt);
    // Deep nesting is refused before decoding.
    Bytes deep(100000, 0x81);
    deep.push_back(0x01);
    EXPECT_EQ(keyedUnarchive(deep), std::nullopt);
}

TEST(Files, PathComponents) {
    EXPECT_EQ(fs::appendPathComponent("/a/", "b"), "/a/b");
    EXPECT_EQ(fs::appendPathComponent("/a", "/b"), "/a/b");
    EXPECT_EQ(fs::appendPathComponent("", "b"), "b");
    EXPECT_EQ(fs::lastPathComponent("/a/b/"), "b");
    EXPECT_EQ(fs::lastPathComponent("/"), "/");
    EXPECT_EQ(fs::deletingLastPathComponent("/a/b"), "/a");
    EXPECT_EQ(fs::deletingLastPathComponent("/a"), "/");
    EXPECT_EQ(fs::deletingLastPathComponent("a"), "");
}

TEST(Files, SandboxFollowsEnvironmentAndBundleIdentifier) {
    const std::string home = testenv::home();
    const std::string exe = fs::lastPathComponent(Bundle::main().executablePath());
    EXPECT_EQ(fs::dataHome(), home + "/.local/share");
    EXPECT_EQ(fs::sandboxDirectory(), home + "/.local/share/" + exe);
    EXPECT_EQ(fs::documentsDirectory(), home + "/.local/share/" + exe + "/Documents");
    EXPECT_EQ(fs::cachesDirectory(), home + "/.local/share/" + exe + "/Library/Caches");
    EXPECT_EQ(fs::keychainDirectory(), home + "/.local/share/keychain");

    const std::string xdg = testenv::makeTempDir("xdg");
    setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    EXPECT_EQ(fs::keychainDirectory(), xdg + "/keychain");
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(fs::dataHome(), home + "/.local/share");
    unsetenv("XDG_DATA_HOME");

    const std::string bundleDir = testenv::makeTempDir("bundle");
    Value info = dict();
    info["CFBundleIdentifier"] = "com.example.host";
    ASSERT_TRUE(fs::writeAtomically(bundleDir + "/Info.plist", toXMLPropertyList(info).value()));
    Bundle::main().reloadFrom(bundleDir);
    EXPECT_EQ(Bundle::main().infoString("CFBundleIdentifier"), "com.example.host");
    EXPECT_EQ(Bundle::main().infoString("CFBundleVersion"), std::nullopt);
    EXPECT_EQ(fs::sandboxDirectory(), home + "/.local/share/com.example.host");

    // An identifier that would leave the data directory is not used as a directory name.
    info["CFBundleIdentifier"] = "../escape";
    ASSERT_TRUE(fs::writeAtomically(bundleDir + "/Info.plist", toXMLPropertyList(info).value()));
    Bundle::main().reloadFrom(bundleDir);
    EXPECT_EQ(fs::sandboxDirectory(), home + "/.local/share/" + exe);

    Bundle::main().reloadFrom(testenv::makeTempDir("empty-bundle"));
    EXPECT_TRUE(Bundle::main().infoDictionary().is_object());
    EXPECT_TRUE(Bundle::main().infoDictionary().empty());
}

TEST(Files, AppGroupContainerExistsOnlyWhenCreated) {
    EXPECT_EQ(fs::appGroupContainer(""), std::nullopt);
    EXPECT_EQ(fs::appGroupContainer("group.example"), std::nullopt);
    EXPECT_EQ(fs::appGroupContainer(".."), std::nullopt);
    const std::string dir = fs::dataHome() + "/app-groups/group.example";
    ASSERT_TRUE(fs::createDirectories(dir, 0750));
    EXPECT_EQ(modeOf(dir), 0750u);
    EXPECT_EQ(fs::appGroupContainer("group.example"), dir);
}

TEST(Files, WriteAtomically) {
    const std::string dir = testenv::makeTempDir("files");
    const std::string path = dir + "/store";
    ASSERT_TRUE(fs::writeAtomically(path, "old"));
    EXPECT_EQ(modeOf(path), 0600u);
    ASSERT_TRUE(fs::writeAtomically(path, std::string("new\0data", 8), 0644, false));
    EXPECT_EQ(fs::readFile(path), std::string("new\0data", 8));
    EXPECT_EQ(modeOf(path), 0644u);

    // Failures leave the old file and no temporary file behind.
    EXPECT_FALSE(fs::writeAtomically(dir + "/missing/store", "x"));
    EXPECT_FALSE(fs::writeAtomically(dir + "/", "x"));
    if (geteuid() != 0) {
        chmod(dir.c_str(), 0500);
        EXPECT_FALSE(fs::writeAtomically(path, "lost"));
        chmod(dir.c_str(), 0700);
    }
    EXPECT_EQ(fs::readFile(path), std::string("new\0data", 8));
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"store"});

    EXPECT_EQ(fs::readFile(dir + "/absent"), std::nullopt);
    EXPECT_TRUE(fs::removeFile(path));
    EXPECT_FALSE(fs::removeFile(path));
}

TEST(Digest, MD5KnownVectors) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
}

namespace {
struct Derived : Exception {
    Derived() : Exception("DerivedException", "why") {}
    [[noreturn]] void throwCopy() const override { throw Derived(*this); }
};
}  // namespace

TEST(Exception, RaiseCapturesAddressesAndKeepsClass) {
    Exception plain("NSInvalidArgumentException", "bad argument");
    EXPECT_TRUE(plain.callStackReturnAddresses().empty());
    EXPECT_EQ(plain.description(), "NSInvalidArgumentException: bad argument");
    try {
        plain.raise();
    } catch (const Exception& e) {
        EXPECT_FALSE(e.callStackReturnAddresses().empty());
        EXPECT_LE(e.callStackReturnAddresses().size(), 128u);
        EXPECT_STREQ(e.what(), "bad argument");
    }
    Derived d;
    EXPECT_THROW(d.raise(), Derived);
}

TEST(Logger, OneLineWithPrefix) {
    EXPECT_EQ(format("%d-%s", 7, "x"), "7-x");
    EXPECT_EQ(format("%s", std::string(2000, 'a').c_str()).size(), 2000u);
    testing::internal::CaptureStderr();
    log("hello\n");
    logf("n=%d", 3);
    std::string out = testing::internal::GetCapturedStderr();
    auto first = out.find('\n');
    ASSERT_NE(first, std::string::npos);
    std::string line = out.substr(0, first);
    // "YYYY-MM-DD HH:MM:SS.mmm name[pid:tid] hello"
    ASSERT_GT(line.size(), 24u);
    EXPECT_EQ(line[4], '-');
    EXPECT_EQ(line[10], ' ');
    EXPECT_EQ(line[19], '.');
    EXPECT_NE(line.find("[" + std::to_string(getpid()) + ":"), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 7), "] hello");
    EXPECT_EQ(out.substr(out.size() - 6), "] n=3\n");
    EXPECT_EQ(out.find("\n\n"), std::string::npos);
}

TEST(Logger, LinesFromThreadsDoNotInterleave) {
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) logf("thread %d line %d %s", t, i, std::string(300, 'a' + t).c_str());
        });
    }
    for (auto& th : threads) th.join();
    std::string out = testing::internal::GetCapturedStderr();
    size_t lines = 0;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::string line = out.substr(start, end - start);
        char c = line.back();
        EXPECT_EQ(line.substr(line.size() - 300), std::string(300, c));
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(lines, 800u);
}

// A process that exits while other threads are still hashing ends cleanly: digests that
// started finish before OpenSSL's exit-time cleanup, later ones wait for the end. (Under the
// sanitizer presets a use of freed OpenSSL state would end the child with an error status.)
TEST(Digest, ExitingWhileOtherThreadsHashIsClean) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (int t = 0; t < 3; ++t) {
            std::thread([] {
                for (;;) (void)platform::md5Hex("digest while the process exits");
            }).detach();
        }
        (void)platform::sha256("warm");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let them get going
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
