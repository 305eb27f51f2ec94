// The exception guard of the crash side: runs a body, and hands anything it throws to the
// coordinator's internal-error report with "SDK crash report", returning the fallback.
// Failures never reach the host.
#pragma once

#include "reliclass/QuillonReportDataUnit.h"

#include <exception>
#include <utility>

namespace quillon {

inline void reportInternalError(const std::exception& e) {
    QuillonReportDataUnit::shareStance().reportSDKException(e, "SDK crash report");
}

template <class F, class R>
auto guarded(F&& body, R fallback) -> R {
    try {
        return std::forward<F>(body)();
    } catch (const std::exception& e) {
        reportInternalError(e);
    } catch (...) {
        QuillonReportDataUnit::shareStance().reportSDKException("unknown exception", "SDK crash report");
    }
    return fallback;
}

template <class F>
void guarded(F&& body) {
    try {
        std::forward<F>(body)();
    } catch (const std::exception& e) {
        reportInternalError(e);
    } catch (...) {
        QuillonReportDataUnit::shareStance().reportSDKException("unknown exception", "SDK crash report");
    }
}

}  // namespace quillon
