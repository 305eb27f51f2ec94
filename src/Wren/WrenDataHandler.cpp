#include "Wren/WrenDataHandler.h"

#include "Wren/WrenDeviceInfo.h"
#include "Wren/WrenPreferences.h"
#include "Wren/WrenRequestManager.h"

#include <cstdio>
#include <mutex>
#include <random>

// Everything the transfers' completions touch, shared with them so that a completion that
// outlives the handler stays safe. The cached record is changed only under the mutex, since
// completions run on the HTTP callback queue while the caller may submit again.
struct WrenDataHandler::State {
    WrenPreferences* preferences = nullptr;
    mutable std::mutex mutex;
    std::optional<WrenReportData> reportData;  // nullopt until loaded
    FinishedHandler finished;

    // With the mutex held.
    bool loadFromFile() {
        auto loaded = WrenReportData::unarchiveObjectWithFile(wrenReportDataPath());
        reportData = loaded.value_or(WrenReportData());
        return loaded.has_value();
    }
    bool writeToFile() const { return reportData->archiveRootObject(wrenReportDataPath()); }

    void finish(bool sent) {
        FinishedHandler handler;
        {
            std::lock_guard lock(mutex);
            handler = finished;
        }
        if (handler) handler(sent);
    }

    bool testNetConnection() const {
        const int status = WrenDeviceInfo::networkStatus();
        return preferences->reportOnlyWIFI() ? status == 5 : status != 0;
    }
};

namespace {

using State = std::shared_ptr<WrenDataHandler::State>;

std::string newReportId() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(engine()),
                  static_cast<unsigned long long>(engine()));
    return buf;
}

std::optional<std::string> optionalText(const platform::Value& v, const char* key) {
    const platform::Value* f = platform::find(v, key);
    return f ? platform::stringValue(*f) : std::nullopt;
}

platform::Value arrayOrEmpty(const platform::Value& v, const char* key) {
    const platform::Value* f = platform::find(v, key);
    return f && f->is_array() ? *f : platform::array();
}

void uploadData(const State& state, const platform::Value& report, const platform::Value& deviceInfo,
                const std::string& reportId);

// The report's text fields and device record, with the cached record's report id.
struct Submission {
    platform::Bytes image;
    std::optional<std::string> comment;
    std::optional<std::string> contact;
    platform::Value deviceInfo;
    std::string reportId;
};

// Keeps the report, with its image bytes, as the one cached report.
void cacheWithImage(const State& state, const Submission& s) {
    std::lock_guard lock(state->mutex);
    if (!state->reportData) state->loadFromFile();
    auto& rd = *state->reportData;
    rd.modifiedImageData = s.image;
    // The image has not been stored yet: a key left from an earlier report would send this
    // report's text with that report's image.
    rd.modifiedImageKey.reset();
    rd.commentText = s.comment;
    rd.contactText = s.contact;
    rd.deviceInfo = s.deviceInfo.is_null() ? std::nullopt : std::optional<platform::Value>(s.deviceInfo);
    rd.reportId = s.reportId;
    rd.haveData = true;
    state->writeToFile();
}

void submit(const State& state, const platform::Value& report, const platform::Value& deviceInfo,
            const std::string& reportId) {
    Submission s;
    if (const auto* f = platform::find(report, "modifiedImageData"); f && f->is_binary()) {
        s.image.assign(f->get_binary().begin(), f->get_binary().end());
    }
    s.comment = optionalText(report, "commentText");
    s.contact = optionalText(report, "contactText");
    s.deviceInfo = deviceInfo;
    s.reportId = reportId;
    platform::Value trace = arrayOrEmpty(report, "operation");
    platform::Value userData = arrayOrEmpty(report, "userData");

    if (!state->testNetConnection()) {
        std::fprintf(stderr, "[WRENSHAKE ERROR] no net connection or not wifi. data save to cache file.\n");
        cacheWithImage(state, s);
        state->finish(false);
        return;
    }
    // A report without image bytes goes through the upload too, with an empty body.
    WrenRequestManager::requestUploadImageToCloud(
        s.image, [state, s, trace = std::move(trace), userData = std::move(userData)](bool success,
                                                                                      const std::string& key) {
            if (!success) {
                cacheWithImage(state, s);
                state->finish(false);
                return;
            }
            platform::Value stored = platform::dict();
            stored["modifiedImageKey"] = key;
            stored["commentText"] = s.comment.value_or("");
            // A report without a contact (a message sent through the API) keeps none.
            if (s.contact) stored["contactText"] = *s.contact;
            stored["operation"] = trace;
            stored["userData"] = userData;
            uploadData(state, stored, s.deviceInfo, s.reportId);
        });
}

// Posts a report whose image is already stored; on failure it becomes the cached report,
// with its image key.
void uploadData(const State& state, const platform::Value& report, const platform::Value& deviceInfo,
                const std::string& reportId) {
    WrenRequestManager::requestDataReport(report, deviceInfo, [state, report, deviceInfo, reportId](bool success) {
        {
            std::lock_guard lock(state->mutex);
            if (!state->reportData) state->loadFromFile();
            auto& rd = *state->reportData;
            if (success) {
                // Only the report that was sent leaves the cache; another cached report waits on.
                if (rd.haveData && rd.reportId == reportId) {
                    rd.modifiedImageKey.reset();
                    rd.commentText.reset();
                    rd.contactText.reset();
                    rd.deviceInfo.reset();
                    rd.reportId.reset();
                    rd.haveData = false;
                    state->writeToFile();
                }
            } else {
                rd.modifiedImageKey = optionalText(report, "modifiedImageKey");
                rd.commentText = optionalText(report, "commentText");
                rd.contactText = optionalText(report, "contactText");
                rd.deviceInfo = deviceInfo.is_null() ? std::nullopt : std::optional<platform::Value>(deviceInfo);
                rd.reportId = reportId;
                rd.haveData = true;
                state->writeToFile();
            }
        }
        state->finish(success);
    });
}

void reportCacheData(const State& state) {
    std::optional<WrenReportData> rd;
    {
        std::lock_guard lock(state->mutex);
        rd = state->reportData;
    }
    if (!rd || !rd->haveData) return;
    // A record from before report ids existed gets one now, so that its send can clear it.
    std::string id = rd->reportId.value_or("");
    if (id.empty()) {
        id = newReportId();
        std::lock_guard lock(state->mutex);
        if (state->reportData && state->reportData->haveData && !state->reportData->reportId) {
            state->reportData->reportId = id;
        }
    }
    const platform::Value device = rd->deviceInfo.value_or(platform::Value());
    platform::Value report = platform::dict();
    if (rd->modifiedImageKey && !rd->modifiedImageKey->empty()) {
        // The image was stored before; it is not uploaded again.
        report["modifiedImageKey"] = *rd->modifiedImageKey;
        report["commentText"] = rd->commentText.value_or("");
        if (rd->contactText) report["contactText"] = *rd->contactText;
        uploadData(state, report, device, id);
    } else {
        report["modifiedImageData"] = platform::bytesValue(rd->modifiedImageData.value_or(platform::Bytes()));
        report["commentText"] = rd->commentText.value_or("");
        if (rd->contactText) report["contactText"] = *rd->contactText;
        submit(state, report, device, id);
    }
}

}  // namespace

WrenDataHandler::WrenDataHandler(WrenPreferences& preferences) : state_(std::make_shared<State>()) {
    state_->preferences = &preferences;
}

WrenDataHandler::~WrenDataHandler() = default;

WrenPreferences& WrenDataHandler::preferences() const { return *state_->preferences; }

std::optional<WrenReportData> WrenDataHandler::reportData() const {
    std::lock_guard lock(state_->mutex);
    return state_->reportData;
}

void WrenDataHandler::setFinishedHandler(FinishedHandler handler) {
    std::lock_guard lock(state_->mutex);
    state_->finished = std::move(handler);
}

void WrenDataHandler::reportData(const platform::Value& report, const platform::Value& deviceInfo) {
    {
        // A report submitted before the start-up load reads the cache first, so that a
        // failure can be cached (and an earlier cached report is not overwritten unseen).
        std::lock_guard lock(state_->mutex);
        if (!state_->reportData) state_->loadFromFile();
    }
    submit(state_, report, deviceInfo, newReportId());
}

void WrenDataHandler::checkAndUploadCacheData() {
    bool loaded;
    {
        std::lock_guard lock(state_->mutex);
        loaded = state_->loadFromFile();
    }
    if (loaded && state_->testNetConnection()) reportCacheData(state_);
}
