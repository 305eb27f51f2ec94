// The reference collector: request validation, batch decoding, answer policies, the
// configuration answer, the file store's signature check and feedback decoding.
#include "support/Collector.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <fstream>

using platform::Value;
using testenv::Collector;

namespace {

std::string envelope(const std::string& ac, const std::string& tm = "1700000000") {
    return R"({"ak":"demo key","tm":")" + tm + R"(","ac":")" + ac + R"(","pro":"5.2.0","ty":"1"})";
}

Collector::Reply crashPost(Collector& c, const std::string& ac, const std::string& body,
                           const std::string& path = "/cpi/crash", double timeout = 10) {
    return c.post(path, body, {{"UPLOAD-JSON", envelope(ac)}}, "application/json", timeout);
}

Value parsed(const Collector::Reply& r) { return Value::parse(r.body, nullptr, false); }

std::string md5Hex(const std::string& text) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(text.data(), text.size(), d, &n, EVP_md5(), nullptr);
    std::string out;
    char b[3];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", d[i]);
        out += b;
    }
    return out;
}

std::string uploadHeader(const std::string& signingKey, const std::string& ts = "1700000000") {
    const std::string ak = "7d2f19ebquake35porchd461a08c27f5";
    const std::string sig =
        md5Hex("apikey=" + ak + "op=Ctfile.uploadsuffix=jpgtag=sdk_iostimestamp=" + ts + "uid=60" + signingKey);
    return R"({"apikey":)" + ak + R"(,"op":Ctfile.upload,"suffix":jpg,"tag":sdk_ios,"timestamp":)" + ts +
           R"(,"uid":60,"sig":)" + sig + "}";
}

const char* kCrashRecord = R"({"dei":{"model":"x"},"data":{"name":"NSRangeException",
    "et":"index 5 beyond bounds\n0   demo   0x0000000000001000 0x0000000000000f00 main + 16\n1   libc   0x2 0x1 start + 4","ty":"2"}})";

}  // namespace

TEST(Collector, RejectsMissingOrInvalidEnvelopeAndStoresNothing) {
    Collector c;
    EXPECT_EQ(400, c.post("/cpi/crash", "{}").status);  // no header at all
    for (const std::string& env : {
             std::string("not json"),
             std::string(R"({"ak":"k","tm":"1","ac":"submit","pro":"5.2.0"})"),            // no "ty"
             std::string(R"({"ak":"k","tm":"1","ac":"submit","pro":"5.2.0","ty":1})"),     // "ty" not a string
             std::string(R"({"ak":"k","tm":"1.5","ac":"submit","pro":"5.2.0","ty":"1"})"),  // fractional time
             std::string(R"({"ak":"k","tm":"1","ac":"launch","pro":"5.2.0","ty":"1"})"),   // unknown action
         }) {
        EXPECT_EQ(400, c.post("/cpi/crash", kCrashRecord, {{"UPLOAD-JSON", env}}).status) << env;
    }
    EXPECT_EQ(400, crashPost(c, "submit", "[1,2]").status);          // body of the wrong shape
    EXPECT_EQ(400, crashPost(c, "register", "{}", "/").status);     // only "config" on the configuration URL
    EXPECT_EQ(0u, c.records().size());
    EXPECT_EQ(8u, c.rejects().size());

    auto ok = crashPost(c, "submit", kCrashRecord);
    EXPECT_EQ(200, ok.status);
    EXPECT_EQ(Value({{"en", 0}}), parsed(ok));
    auto recs = c.records();
    ASSERT_EQ(1u, recs.size());
    EXPECT_EQ("demo key", recs[0]["ak"]);
    EXPECT_EQ("1700000000", recs[0]["tm"]);
    EXPECT_EQ("submit", recs[0]["ac"]);
    EXPECT_EQ("submit", recs[0]["item_ac"]);
    EXPECT_EQ("NSRangeException", recs[0]["name"]);
    EXPECT_EQ("index 5 beyond bounds", recs[0]["reason"]);
    EXPECT_EQ(0u, recs[0]["backtrace"].get<std::string>().find("0   demo"));
    EXPECT_EQ("x", recs[0]["body"]["dei"]["model"]);
}

TEST(Collector, SubmoreDecodesNestedObjectsAndJsonTextPosts) {
    Collector c;
    Value batch = Value::array();
    batch.push_back({{"ac", "submit"}, {"post", Value::parse(kCrashRecord).dump(2)}});  // JSON text
    batch.push_back({{"ac", "register"}, {"post", {{"dei", {{"os", "linux"}}}}}});      // nested object
    ASSERT_EQ(200, crashPost(c, "submore", batch.dump(2)).status);

    auto recs = c.waitForRecords(2);
    ASSERT_EQ(2u, recs.size());
    EXPECT_EQ("submore", recs[0]["ac"]);
    EXPECT_EQ("submit", recs[0]["item_ac"]);
    EXPECT_EQ("NSRangeException", recs[0]["name"]);
    EXPECT_EQ("index 5 beyond bounds", recs[0]["reason"]);
    EXPECT_TRUE(recs[0]["body"]["data"].is_object());
    EXPECT_EQ("register", recs[1]["item_ac"]);
    EXPECT_EQ("linux", recs[1]["body"]["dei"]["os"]);
    EXPECT_EQ("", recs[1]["name"]);

    // One undecodable item rejects the whole batch; an empty batch is a client fault too.
    Value bad = Value::array({{{"ac", "submit"}, {"post", "{not json"}}, {{"ac", "register"}, {"post", {{"a", 1}}}}});
    EXPECT_EQ(400, crashPost(c, "submore", bad.dump()).status);
    EXPECT_EQ(400, crashPost(c, "submore", "[]").status);
    EXPECT_EQ(2u, c.records().size());
}

TEST(Collector, ConfigurationAnswerCarriesConfiguredValues) {
    Collector c({"--config-json", R"({"up":-1,"rc":4,"to":7,"cv":3,"crt":1234})"});
    auto r = crashPost(c, "config", R"({"cv":"0"})", "/");
    ASSERT_EQ(200, r.status);
    EXPECT_EQ(Value::parse(R"({"en":0,"up":-1,"rc":4,"to":7,"cv":3,"crt":1234})"), parsed(r));

    // The live layer overrides single values; the others stay.
    c.setPolicy({{"config", {{"cv", 9}}}});
    EXPECT_EQ(Value::parse(R"({"en":0,"up":-1,"rc":4,"to":7,"cv":9,"crt":1234})"), parsed(crashPost(c, "config", "{}", "/")));

    auto recs = c.records();
    ASSERT_EQ(2u, recs.size());
    EXPECT_EQ("config", recs[0]["ac"]);
    EXPECT_EQ("/", recs[0]["path"]);
}

TEST(Collector, DefaultConfigurationAnswerWithoutCrt) {
    Collector c;
    EXPECT_EQ(Value::parse(R"({"en":0,"up":1,"rc":2,"to":3,"cv":0})"), parsed(crashPost(c, "config", "{}", "/")));
}

TEST(Collector, CrashEndpointAnswersEachPolicyMode) {
    Collector c;
    c.setPolicy({{"mode", "en1"}, {"msg", "try later"}});
    EXPECT_EQ(Value::parse(R"({"en":1,"msg":"try later"})"), parsed(crashPost(c, "register", "{}")));

    c.setPolicy({{"mode", "http500"}});
    EXPECT_EQ(500, crashPost(c, "register", "{}").status);

    c.setPolicy({{"mode", "garbage"}});
    auto g = crashPost(c, "register", "{}");
    EXPECT_EQ(200, g.status);
    EXPECT_TRUE(parsed(g).is_discarded());

    c.setPolicy({{"mode", "slow"}, {"slowMs", 50}});
    EXPECT_EQ(Value({{"en", 0}}), parsed(crashPost(c, "register", "{}")));

    c.setPolicy({{"mode", "nocode"}});
    EXPECT_EQ(Value::object(), parsed(crashPost(c, "register", "{}")));

    // Per endpoint: the crash URL fails while the configuration URL still answers.
    c.setPolicy({{"endpoints", {{"crash", {{"mode", "en1"}}}}}});
    EXPECT_EQ(1, parsed(crashPost(c, "submit", kCrashRecord))["en"]);
    EXPECT_EQ(0, parsed(crashPost(c, "config", "{}", "/"))["en"]);

    // Every request that passed validation is stored, with the mode it was answered with.
    auto recs = c.records();
    ASSERT_EQ(7u, recs.size());
    EXPECT_EQ("en1", recs[0]["answer"]);
    EXPECT_EQ("http500", recs[1]["answer"]);
    EXPECT_EQ("ok", recs[6]["answer"]);

    EXPECT_EQ(400, c.post("/_collector/policy", R"({"mode":"sometimes"})").status);  // unknown modes are refused
}

TEST(Collector, NoAnswerHoldsTheRequestUntilTheClientGivesUp) {
    Collector c({"--answer", "noanswer"});
    auto r = crashPost(c, "register", "{}", "/cpi/crash", 0.5);
    EXPECT_EQ(-1, r.status);
    EXPECT_EQ(1u, c.waitForRecords(1).size());
    // Other requests are still served while one is held.
    c.setPolicy({{"mode", "ok"}});
    EXPECT_EQ(200, crashPost(c, "register", "{}").status);
}

TEST(Collector, PolicyFileIsReReadOnEveryRequest) {
    const std::string file = testenv::makeTempDir() + "/policy.json";
    std::ofstream(file) << R"({"mode":"en1"})";
    Collector c({"--policy", file});
    EXPECT_EQ(1, parsed(crashPost(c, "register", "{}"))["en"]);
    std::ofstream(file) << R"({"mode":"ok","config":{"cv":5}})";
    EXPECT_EQ(0, parsed(crashPost(c, "register", "{}"))["en"]);
    EXPECT_EQ(5, parsed(crashPost(c, "config", "{}", "/"))["cv"]);
    // A broken file keeps the last good one in force.
    std::ofstream(file) << R"({"mode":)";
    EXPECT_EQ(5, parsed(crashPost(c, "config", "{}", "/"))["cv"]);
}

TEST(Collector, FileStoreChecksTheSignatureAndServesTheImage) {
    Collector c;
    const std::string image = std::string("\xff\xd8\xff\xe0 fake jpeg \x00\x01", 18);
    auto ok = c.post("/fs.action", image, {{"UPLOAD-JSON", uploadHeader("K3TRVQW9PLMZ2XH7")}}, "");
    ASSERT_EQ(200, ok.status);
    Value answer = parsed(ok);
    EXPECT_EQ(0, answer["code"]);
    const std::string fileUrl = answer["data"]["fileinfo"]["fileUrl"].get<std::string>();
    const std::string prefix = c.url("/");
    ASSERT_EQ(0u, fileUrl.rfind(prefix, 0)) << fileUrl;
    auto back = c.get(fileUrl.substr(prefix.size() - 1));
    EXPECT_EQ(200, back.status);
    EXPECT_EQ(image, back.body);
    EXPECT_EQ("image/jpeg", back.contentType);

    for (const std::string& header : {uploadHeader("WRONGKEY00000000"), std::string("{\"apikey\":x}"), std::string()}) {
        std::map<std::string, std::string> h;
        if (!header.empty()) h["UPLOAD-JSON"] = header;
        Value bad = parsed(c.post("/fs.action", image, h, ""));
        EXPECT_NE(0, bad.value("code", 0)) << header;
        EXPECT_TRUE(bad["msg"].is_string());
    }
    EXPECT_EQ("signature mismatch", c.rejects()[0]["reason"]);
    EXPECT_EQ(1u, c.files().size());
}

TEST(Collector, FeedbackEndpointsAnswerEachPolicyMode) {
    Collector c;
    const std::string header = uploadHeader("K3TRVQW9PLMZ2XH7");
    c.setPolicy({{"mode", "code1"}, {"code", 7}, {"msg", "quota"}});
    EXPECT_EQ(Value::parse(R"({"code":7,"msg":"quota"})"), parsed(c.post("/cpi/pre", "{}")));
    EXPECT_EQ(7, parsed(c.post("/fs.action", "x", {{"UPLOAD-JSON", header}}, ""))["code"]);

    c.setPolicy({{"mode", "emptydata"}});
    EXPECT_EQ(Value::object(), parsed(c.post("/fs.action", "x", {{"UPLOAD-JSON", header}}, ""))["data"]);

    c.setPolicy({{"mode", "nocode"}});
    Value noCode = parsed(c.post("/cpi/pre", "{}"));
    EXPECT_FALSE(noCode.contains("code"));

    c.setPolicy({{"endpoints", {{"pre", {{"mode", "http500"}}}}}});
    EXPECT_EQ(500, c.post("/cpi/pre", "{}").status);
    EXPECT_EQ(0, parsed(c.post("/fs.action", "x", {{"UPLOAD-JSON", header}}, ""))["code"]);
}

TEST(Collector, FeedbackReportKeepsLogsAndUserDataDecoded) {
    Collector c;
    Value report = {{"client_type", 1},
                    {"appkey", "demo key"},
                    {"messages", Value::array({{{"group", ""},
                                                {"timestamp", 1.7e9},
                                                {"data", {{"type", "PROBLEM"}, {"message", "it broke"}}}}})},
                    {"logs", Value::array({"line one", "line two"}).dump(2)},
                    {"operatetrace", Value::array()},
                    {"user_data", Value({{"user", "42"}}).dump(2)}};
    auto r = c.post("/cpi/pre", report.dump(2));
    ASSERT_EQ(200, r.status);
    EXPECT_EQ(0, parsed(r)["code"]);

    report["logs"] = "";
    ASSERT_EQ(200, c.post("/cpi/pre", report.dump()).status);
    report["user_data"] = "{broken";
    EXPECT_EQ(400, c.post("/cpi/pre", report.dump()).status);
    EXPECT_EQ(400, c.post("/cpi/pre", report.dump(), {}, "text/plain").status);

    auto fb = c.waitForFeedback(2);
    ASSERT_EQ(2u, fb.size());
    EXPECT_EQ("PROBLEM", fb[0]["type"]);
    EXPECT_EQ("it broke", fb[0]["message"]);
    EXPECT_EQ("demo key", fb[0]["appkey"]);
    EXPECT_EQ(Value::array({"line one", "line two"}), fb[0]["body"]["logs"]);
    EXPECT_EQ("42", fb[0]["body"]["user_data"]["user"]);
    EXPECT_EQ("", fb[1]["body"]["logs"]);
}

TEST(Collector, StopsOnSigtermAndDumpPrintsTheStoredCrashes) {
    Collector c;
    Value batch = Value::array({{{"ac", "submit"}, {"post", Value::parse(kCrashRecord).dump(2)}}});
    ASSERT_EQ(200, crashPost(c, "submore", batch.dump()).status);
    ASSERT_EQ(200, crashPost(c, "register", R"({"dei":{}})").status);
    EXPECT_EQ(0, c.stop());

    const std::string cmd = std::string(QUILLON_COLLECTOR_PATH) + " dump --db '" + c.dbPath() + "'";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(nullptr, p);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    EXPECT_EQ(0, pclose(p));
    EXPECT_NE(std::string::npos, out.find("records: 2")) << out;
    EXPECT_NE(std::string::npos, out.find("submore/submit")) << out;
    EXPECT_NE(std::string::npos, out.find("NSRangeException")) << out;
    EXPECT_NE(std::string::npos, out.find("index 5 beyond bounds")) << out;
    EXPECT_NE(std::string::npos, out.find("0   demo   0x0000000000001000")) << out;
    EXPECT_NE(std::string::npos, out.find("register")) << out;
}
