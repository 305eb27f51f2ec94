#include "reliclass/QuillonCustomizedException.h"

#include <utility>

QuillonCustomizedException::QuillonCustomizedException(std::string name, std::string reason, platform::Value userInfo,
                                                       std::optional<std::string> message)
    : platform::Exception(std::move(name), std::move(reason), std::move(userInfo)), message_(std::move(message)) {}

QuillonCustomizedException QuillonCustomizedException::exceptionWithName(const std::string& name,
                                                                         const std::string& reason,
                                                                         const platform::Value& userInfo) {
    return QuillonCustomizedException(name, reason, userInfo);
}

QuillonCustomizedException QuillonCustomizedException::exceptionWithName(const std::string& name,
                                                                         const std::string& reason,
                                                                         const platform::Value& userInfo,
                                                                         const std::optional<std::string>& message) {
    return QuillonCustomizedException(name, reason, userInfo, message);
}

void QuillonCustomizedException::throwCopy() const { throw QuillonCustomizedException(*this); }
