#include "reliclass/QuillonReportDataUnit.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/Logger.h"

#include <atomic>

namespace {
std::atomic<QuillonReportDataUnit*> gInstance{nullptr};
}

QuillonReportDataUnit& QuillonReportDataUnit::shareStance() {
    static QuillonReportDataUnit* instance = [] {
        auto* p = new QuillonReportDataUnit;
        gInstance.store(p, std::memory_order_release);
        return p;
    }();
    return *instance;
}

QuillonReportDataUnit* QuillonReportDataUnit::activeInstance() {
    return gInstance.load(std::memory_order_acquire);
}

void QuillonReportDataUnit::reportSDKException(const std::exception& exception, const std::string& message) {
    (void)message;  // only the exception is printed
    if (auto* e = dynamic_cast<const platform::Exception*>(&exception)) {
        reportSDKException(e->description(), message);
    } else {
        reportSDKException(std::string(exception.what()), message);
    }
}

void QuillonReportDataUnit::reportSDKException(const std::string& description, const std::string& message) {
    (void)message;
    platform::log("SDK error:" + description);
}

void QuillonReportDataUnit::setQuillonUserInfo(const std::optional<std::string>& value) { user = value; }
