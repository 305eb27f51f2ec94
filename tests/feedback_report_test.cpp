// The feedback report body, its request, and the keyed archives of the cached records.
#include "Wren/WrenReportData.h"
#include "Wren/WrenUserData.h"
#include "Wren/WrenURLConnection.h"
#include "Wren/WrenURLProtocolManager.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/LogFile.h"
#include "platform/foundation/Logger.h"
#include "support/FeedbackEnv.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <regex>

using platform::Value;

namespace {

class FeedbackReportTest : public ::testing::Test {
protected:
    void SetUp() override { testenv::useBundle(Value{{"WrenFeedbackHost", "127.0.0.1:9"}}); }

    static Value body(const WrenURLProtocolManager& m) {
        auto data = m.makeReportData();
        EXPECT_TRUE(data.has_value());
        auto v = platform::parseJSON(data.value_or(""));
        EXPECT_TRUE(v && v->is_object());
        return v.value_or(Value());
    }
    static const Value& messageData(const Value& b) { return b["messages"][0]["data"]; }
};

bool isTenLetters(const Value& v) {
    return v.is_string() && std::regex_match(v.get<std::string>(), std::regex("[A-Z]{10}"));
}

TEST_F(FeedbackReportTest, BodyCarriesEveryFieldWithItsType) {
    platform::log("before the report");
    WrenURLProtocolManager m;
    m.message = "the button is off";
    m.contact = "me@example.org";
    m.operationTrace = Value::array({"tap A", "push B"});
    m.userDatas = Value::array({Value{{"k", "1"}}, Value{{"j", "x"}}, Value{{"k", "2"}}});
    m.deviceInfo = Value{{"und", "dev"}, {"sysname", 1}};
    m.appKey = "key-1";
    m.modifiedImageKeys = Value::array({"http://files/1.jpg"});
    m.type = 2;
    const Value b = body(m);

    EXPECT_EQ(b["client_type"], 1);
    EXPECT_TRUE(isTenLetters(b["packetid"]));
    EXPECT_EQ(b["appkey"], "key-1");
    EXPECT_EQ(b["app_version"], "3.4.5");
    EXPECT_EQ(b["version_code"], "345");
    EXPECT_EQ(b["device"], (Value{{"und", "dev"}, {"sysname", 1}}));
    EXPECT_EQ(b["operatetrace"], Value::array({"tap A", "push B"}));

    // "user_data" and "logs" are JSON texts, not nested objects.
    ASSERT_TRUE(b["user_data"].is_string());
    EXPECT_EQ(*platform::parseJSON(b["user_data"].get<std::string>()), (Value{{"k", "2"}, {"j", "x"}}));
    ASSERT_TRUE(b["logs"].is_string());
    auto logs = platform::parseJSON(b["logs"].get<std::string>());
    ASSERT_TRUE(logs && logs->is_array() && !logs->empty());
    EXPECT_NE(logs->back().get<std::string>().find("] before the report"), std::string::npos);

    ASSERT_TRUE(b["messages"].is_array());
    ASSERT_EQ(b["messages"].size(), 1u);
    const Value& msg = b["messages"][0];
    EXPECT_EQ(msg["group"], "");
    EXPECT_TRUE(msg["timestamp"].is_number_float());
    EXPECT_NEAR(msg["timestamp"].get<double>(), platform::now(), 60);
    const Value& data = messageData(b);
    EXPECT_EQ(data["type"], "FEEDBACK");
    EXPECT_EQ(data["message"], "the button is off");
    EXPECT_EQ(data["contact"], "me@example.org");
    EXPECT_TRUE(isTenLetters(data["issueid"]));
    EXPECT_NE(data["issueid"], b["packetid"]);
    EXPECT_EQ(data["keys"], (Value{{"original", Value::array()}, {"modified", Value::array({"http://files/1.jpg"})}}));
}

TEST_F(FeedbackReportTest, ApiMessageHasNoContactEmptyKeysAndEmptyTexts) {
    WrenURLProtocolManager m;
    m.message = "hello";
    m.type = 4;
    const Value b = body(m);
    const Value& data = messageData(b);
    EXPECT_EQ(data["type"], "OTHER");
    EXPECT_FALSE(data.contains("contact"));
    EXPECT_EQ(data["keys"], (Value{{"original", Value::array()}, {"modified", Value::array()}}));
    EXPECT_EQ(b["appkey"], "");
    EXPECT_EQ(b["device"], Value::object());
    EXPECT_EQ(b["operatetrace"], Value::array());
    EXPECT_EQ(*platform::parseJSON(b["user_data"].get<std::string>()), Value::object());
    // The only application log lines so far are this test's own report line, if any.
    EXPECT_TRUE(b["logs"].is_string());
}

TEST_F(FeedbackReportTest, TypeNamesFollowTheirIndexAndIdentifiersAreFresh) {
    const char* names[] = {"PROBLEM", "CRASH", "FEEDBACK", "DEBUG", "OTHER", "", ""};
    const int types[] = {0, 1, 2, 3, 4, 7, -1};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(WrenURLProtocolManager::typeName(types[i]), names[i]);

    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) seen.insert(randomString());
    EXPECT_EQ(seen.size(), 50u);
    for (const auto& s : seen) EXPECT_TRUE(std::regex_match(s, std::regex("[A-Z]{10}")));
}

TEST_F(FeedbackReportTest, AnswerParsingAndRequestHeaders) {
    EXPECT_EQ(*WrenURLProtocolManager::parseData(R"({"code":0,"msg":"ok"})"), (Value{{"code", 0}, {"msg", "ok"}}));
    EXPECT_FALSE(WrenURLProtocolManager::parseData("<html>").has_value());

    const std::string text = "{\"x\":\"\xc3\xa9\"}";  // 2-byte UTF-8 inside: bytes, not characters
    const auto r = WrenURLConnection::makeRequest(text);
    EXPECT_EQ(r.url, "http://127.0.0.1:9/cpi/pre");
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.timeoutSeconds, 20.0);
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Content-Length"), std::to_string(text.size()));
    EXPECT_FALSE(r.header("UPLOAD-JSON").has_value());
}

TEST_F(FeedbackReportTest, ArchivesRoundTripAndAreCreatedPrivate) {
    WrenReportData r;
    r.haveData = true;
    r.modifiedImageData = platform::Bytes{0xff, 0xd8, 0x00, 0x01};
    r.modifiedImageKey = "http://k";
    r.commentText = "c\u00e9";
    r.deviceInfo = Value{{"und", "x"}, {"ram", {{"total", 5}}}};
    r.reportId = "abc";
    ASSERT_TRUE(r.archiveRootObject(wrenReportDataPath()));
    auto back = WrenReportData::unarchiveObjectWithFile(wrenReportDataPath());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->haveData);
    EXPECT_EQ(back->modifiedImageData, r.modifiedImageData);
    EXPECT_EQ(back->modifiedImageKey, "http://k");
    EXPECT_EQ(back->commentText, r.commentText);
    EXPECT_FALSE(back->contactText.has_value());
    EXPECT_FALSE(back->originalImageKey.has_value());
    EXPECT_EQ(back->deviceInfo, r.deviceInfo);
    EXPECT_EQ(back->reportId, "abc");
    const Value coded = r.encodeWithCoder();
    EXPECT_TRUE(coded["haveData"].is_boolean());
    EXPECT_FALSE(coded.contains("originalImageKey"));

    WrenUserData u;
    u.promptCount = 3;
    u.contact = "me";
    ASSERT_TRUE(u.archiveRootObject(wrenUserDataPath()));
    auto ub = WrenUserData::unarchiveObjectWithFile(wrenUserDataPath());
    ASSERT_TRUE(ub);
    EXPECT_EQ(ub->promptCount, 3);
    EXPECT_EQ(ub->contact, "me");
    EXPECT_EQ(u.encodeWithCoder()["promptcount"], 3);

    for (const auto& path : {wrenReportDataPath(), wrenUserDataPath()}) {
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
    }
    // One record's archive is not the other's, and a damaged file reads as nothing.
    EXPECT_FALSE(WrenUserData::unarchiveObjectWithFile(wrenReportDataPath()).has_value());
    platform::fs::writeAtomically(wrenReportDataPath(), "not an archive");
    EXPECT_FALSE(WrenReportData::unarchiveObjectWithFile(wrenReportDataPath()).has_value());
}

}  // namespace
