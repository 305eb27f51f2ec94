// The feedback side's runtime settings, shared by its services. Created on first use with
// every field zero, false or empty. Fields may be read from the HTTP callback queue while
// the main thread changes them; each read gives a whole value.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

class WrenPreferences {
public:
    static WrenPreferences& sharedInstance();

    std::optional<std::string> appKey() const;
    void setAppKey(std::optional<std::string> value);
    std::optional<std::string> userInfo() const;
    void setUserInfo(std::optional<std::string> value);

    // 0 bug report, 2 suggestion, 4 message sent through the API.
    std::int32_t feedbackType() const { return feedbackType_.load(); }
    void setFeedbackType(std::int32_t value) { feedbackType_.store(value); }
    bool supportSelectFromImageLibrary() const { return supportSelectFromImageLibrary_.load(); }
    void setSupportSelectFromImageLibrary(bool value) { supportSelectFromImageLibrary_.store(value); }
    bool enabledShake() const { return enabledShake_.load(); }
    void setEnabledShake(bool value) { enabledShake_.store(value); }
    bool reportOnlyWIFI() const { return reportOnlyWIFI_.load(); }
    void setReportOnlyWIFI(bool value) { reportOnlyWIFI_.store(value); }
    std::int64_t wayOfFeedback() const { return wayOfFeedback_.load(); }
    void setWayOfFeedback(std::int64_t value) { wayOfFeedback_.store(value); }
    bool showCloseFeedbackOption() const { return showCloseFeedbackOption_.load(); }
    void setShowCloseFeedbackOption(bool value) { showCloseFeedbackOption_.store(value); }

    WrenPreferences() = default;
    WrenPreferences(const WrenPreferences&) = delete;
    WrenPreferences& operator=(const WrenPreferences&) = delete;

private:
    mutable std::mutex mutex_;
    std::optional<std::string> appKey_;
    std::optional<std::string> userInfo_;
    std::atomic<std::int32_t> feedbackType_{0};
    std::atomic<bool> supportSelectFromImageLibrary_{false};
    std::atomic<bool> enabledShake_{false};
    std::atomic<bool> reportOnlyWIFI_{false};
    std::atomic<std::int64_t> wayOfFeedback_{0};
    std::atomic<bool> showCloseFeedbackOption_{false};
};
