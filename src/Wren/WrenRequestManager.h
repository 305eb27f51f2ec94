// The thin layer between the submission service and the transports: the image upload to the
// file store and the report post to the feedback server.
#pragma once

#include "platform/foundation/Value.h"

#include <functional>
#include <memory>
#include <string>

class WrenImgCloudManager;

class WrenRequestManager {
public:
    using UploadCompletion = std::function<void(bool success, const std::string& key)>;
    using ReportCompletion = std::function<void(bool success)>;

    // Uploads the image with the file-store uploader; success when no error came back, with
    // the key it returned.
    static void requestUploadImageToCloud(const platform::Bytes& image, UploadCompletion completion);

    // Posts the report (keys "modifiedImageKey", "commentText", "contactText", "operation",
    // "userData") with the device record. Fails at once when there is no network. Success
    // only for an HTTP 200 answer whose "code" is present and 0.
    static void requestDataReport(const platform::Value& report, const platform::Value& deviceInfo,
                                  ReportCompletion completion);

    // The file-store uploader in use: the one the feedback loader owns once it has set it,
    // a process-wide one before that.
    static std::shared_ptr<WrenImgCloudManager> imgCloudManager();
    static void setImgCloudManager(std::shared_ptr<WrenImgCloudManager> manager);
};
