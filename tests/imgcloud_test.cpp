// The signed screenshot upload: the header's exact shape and signature, and what each answer
// of the file store (the reference collector) turns into.
#include "Wren/WrenImgCloudManager.h"
#include "platform/foundation/Logger.h"
#include "support/Collector.h"
#include "support/FeedbackEnv.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <thread>

using platform::Value;

namespace {

// MD5 as lower-case hex, straight from OpenSSL.
std::string referenceMd5(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr);
    std::string out;
    for (unsigned int i = 0; i < len; ++i) out += platform::format("%02x", digest[i]);
    return out;
}

struct Outcome {
    std::optional<WrenError> error;
    std::string key;
    std::thread::id thread;
};

class ImgCloudTest : public ::testing::Test {
protected:
    void SetUp() override {
        collector_ = std::make_unique<testenv::Collector>();
        testenv::useBundle(Value{{"WrenFileStoreHost", collector_->host()}});
    }

    static Outcome upload(const platform::Bytes& bytes) {
        std::promise<Outcome> done;
        WrenImgCloudManager().uploadData(bytes, [&](const std::optional<WrenError>& e, const std::string& key) {
            done.set_value(Outcome{e, key, std::this_thread::get_id()});
        });
        auto f = done.get_future();
        EXPECT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        return f.get();
    }
    void fileStoreAnswers(const std::string& mode) {
        collector_->setPolicy(Value{{"endpoints", {{"fs", {{"mode", mode}}}}}});
    }

    std::unique_ptr<testenv::Collector> collector_;
};

TEST_F(ImgCloudTest, HeaderIsTheSignedBareValueText) {
    const platform::Bytes jpeg{0xff, 0xd8, 0xff, 0xe0, 0x00};
    WrenImgCloudManager m;
    const auto r = m.makeRequestWithData(jpeg, 1700000000.6);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.url, "http://" + collector_->host() + "/fs.action");
    EXPECT_EQ(r.timeoutSeconds, 15.0);
    EXPECT_EQ(r.body, std::string(jpeg.begin(), jpeg.end()));
    ASSERT_EQ(r.headers.size(), 1u);
    EXPECT_EQ(r.headers[0].first, "UPLOAD-JSON");

    const std::string sig = referenceMd5(
        "apikey=7d2f19ebquake35porchd461a08c27f5op=Ctfile.uploadsuffix=jpgtag=sdk_iostimestamp=1700000001uid=60"
        "K3TRVQW9PLMZ2XH7");
    EXPECT_EQ(r.headers[0].second,
              "{\"apikey\":7d2f19ebquake35porchd461a08c27f5,\"op\":Ctfile.upload,\"suffix\":jpg,\"tag\":sdk_ios,"
              "\"timestamp\":1700000001,\"uid\":60,\"sig\":" + sig + "}");
    EXPECT_TRUE(std::regex_match(r.headers[0].second, std::regex(R"(\{"apikey":.*,"sig":[0-9a-f]{32}\})")));
    // Same second, same header; the signing key never travels.
    EXPECT_EQ(m.makeRequestWithData({}, 1700000001.2).headers, r.headers);
    EXPECT_EQ(r.headers[0].second.find("K3TRVQW9PLMZ2XH7"), std::string::npos);
    EXPECT_EQ(md5WithString("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(ImgCloudTest, StoredUploadGivesTheFileUrlOffTheCallingThread) {
    // Large enough to be refused by a server that caps form-encoded bodies: the upload has no
    // Content-Type of its own.
    const platform::Bytes jpeg(200 * 1024, 0x5a);
    const Outcome o = upload(jpeg);
    ASSERT_FALSE(o.error.has_value()) << o.error->domain;
    EXPECT_NE(o.thread, std::this_thread::get_id());
    const Value files = collector_->files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]["size"], 200 * 1024);
    EXPECT_EQ(o.key, "http://" + collector_->host() + "/_collector/files/" + std::to_string(files[0]["id"].get<int>()) +
                         ".jpg");
    EXPECT_TRUE(collector_->rejects().empty());

    // Without "code" an answer counts as stored.
    fileStoreAnswers("nocode");
    EXPECT_FALSE(upload(jpeg).error.has_value());
}

TEST_F(ImgCloudTest, EachFailureHasItsDomainAndCode) {
    struct Case {
        const char* mode;
        const char* domain;
        long code;
        bool answerInUserInfo;
    };
    const Case cases[] = {
        {"http500", "upload error.", 500, false},
        {"code1", "upload error.", 200, true},
        {"garbage", "upload error.", 200, false},
        {"emptydata", "upload response data error.", -100, true},
    };
    for (const auto& c : cases) {
        fileStoreAnswers(c.mode);
        const Outcome o = upload({1, 2, 3});
        ASSERT_TRUE(o.error.has_value()) << c.mode;
        EXPECT_EQ(o.error->domain, c.domain) << c.mode;
        EXPECT_EQ(o.error->code, c.code) << c.mode;
        EXPECT_EQ(o.error->userInfo.is_object(), c.answerInUserInfo) << c.mode;
        EXPECT_EQ(o.key, "") << c.mode;
    }
    fileStoreAnswers("code1");
    EXPECT_EQ(upload({1}).error->userInfo["code"], 1);

    // Nothing listening: the transport's own error.
    testenv::useBundle(Value{{"WrenFileStoreHost", "127.0.0.1:1"}});
    const Outcome o = upload({1});
    ASSERT_TRUE(o.error.has_value());
    EXPECT_EQ(o.error->domain, "NSURLErrorDomain");
    EXPECT_EQ(o.error->code, -1004);
}

}  // namespace
