// Request building, the envelope header, application-key normalisation and MD5.
#include "Wren/WrenTestUtil.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "reliclass/QuillonNetworkBuilder.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonServerHosts.h"
#include "reliclass/QuillonUtil.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

using platform::Value;

TEST(Envelope, OrdinaryKeysGiveTheExactBytesAndTimeIsRounded) {
    EXPECT_EQ(QuillonNetworkBuilder::envelope("abc123", 1700000000.5, "submore"),
              R"({"ak":"abc123","tm":"1700000000","ac":"submore","pro":"5.2.0","ty":"1"})");
    EXPECT_EQ(QuillonNetworkBuilder::envelope("k", 1700000000.6, "register"),
              R"({"ak":"k","tm":"1700000001","ac":"register","pro":"5.2.0","ty":"1"})");
    EXPECT_EQ(QuillonNetworkBuilder::envelope("k", 1700000000.49, "config"),
              R"({"ak":"k","tm":"1700000000","ac":"config","pro":"5.2.0","ty":"1"})");
}

TEST(Envelope, KeysWithQuotesBackslashesAndControlCharactersStayValidJSON) {
    const std::string key = "a\"b\\c\nd\x01";
    auto parsed = platform::parseJSON(QuillonNetworkBuilder::envelope(key, 1.0, "submit"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ((*parsed)["ak"], key);
    std::vector<std::string> keys;
    for (const auto& item : parsed->items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"ak", "tm", "ac", "pro", "ty"}));
}

TEST(RequestBuilder, ReportRequestsArePostsToTheCrashPathWithOnlyTheEnvelope) {
    QuillonReportDataUnit::shareStance().appKey = "key 1";
    auto request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("submore");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "http://127.0.0.1:8480/cpi/crash");
    ASSERT_EQ(request.headers.size(), 1u);
    EXPECT_EQ(request.headers[0].first, "UPLOAD-JSON");
    auto env = platform::parseJSON(request.headers[0].second);
    ASSERT_TRUE(env.has_value());
    EXPECT_EQ((*env)["ak"], "key 1");
    EXPECT_EQ((*env)["ac"], "submore");
    EXPECT_EQ((*env)["tm"].get<std::string>().find('.'), std::string::npos);

    auto config = QuillonNetworkBuilder::defaultBuilder().buildRequestWithConfigAction("config");
    EXPECT_EQ(config.url, "http://127.0.0.1:8480");
}

TEST(RequestBuilder, InfoPlistOverridesTheServerHosts) {
    const std::string dir = testenv::makeTempDir("bundle");
    Value info = platform::dict();
    info["CFBundleIdentifier"] = "org.example.app";
    info["QuillonCrashHost"] = "crash.example:9000";
    info["QuillonConfigHost"] = "config.example";
    info["WrenFeedbackHost"] = "feedback.example:81";
    ASSERT_TRUE(platform::fs::writeAtomically(dir + "/Info.plist", *platform::toXMLPropertyList(info)));
    platform::Bundle::main().reloadFrom(dir);
    EXPECT_EQ(quillon::crashURL(), "http://crash.example:9000/cpi/crash");
    EXPECT_EQ(quillon::configURL(), "http://config.example");
    EXPECT_EQ(quillon::feedbackURL(), "http://feedback.example:81/cpi/pre");
    EXPECT_EQ(quillon::fileStoreURL(), "http://127.0.0.1:8480/fs.action");  // not overridden
}

TEST(AppKey, WhitespaceIsTrimmedAndInnerRunsCollapse) {
    EXPECT_EQ(QuillonUtil::checkAppId(std::string("  one  two\n")), "one two");
    EXPECT_EQ(QuillonUtil::checkAppId(std::string(" \t a \t\t b c \n")), "a b c");
    EXPECT_EQ(QuillonUtil::checkAppId(std::string("a\nb")), "a\nb");  // inner newlines stay
    EXPECT_EQ(QuillonUtil::checkAppId(std::string("   ")), "");
    EXPECT_EQ(QuillonUtil::checkAppId(std::string("")), std::nullopt);
    EXPECT_EQ(QuillonUtil::checkAppId(std::nullopt), std::nullopt);
}

TEST(Digest, MD5OfKnownVectorsStopsAtTheFirstZeroByte) {
    EXPECT_EQ(QuillonUtil::md5HexDigestWithString(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(QuillonUtil::md5HexDigestWithString("The quick brown fox jumps over the lazy dog"),
              "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(WrenTestUtil::md5HexDigestWithString(std::string("abc\0def", 7)), QuillonUtil::md5HexDigestWithString("abc"));
    EXPECT_EQ(QuillonUtil::md5HexDigestWithString("abc"), "900150983cd24fb0d6963f7d28e17f72");
}
