#include "Wren/WrenPreferences.h"

WrenPreferences& WrenPreferences::sharedInstance() {
    static WrenPreferences* p = new WrenPreferences;
    return *p;
}

std::optional<std::string> WrenPreferences::appKey() const {
    std::lock_guard lock(mutex_);
    return appKey_;
}

void WrenPreferences::setAppKey(std::optional<std::string> value) {
    std::lock_guard lock(mutex_);
    appKey_ = std::move(value);
}

std::optional<std::string> WrenPreferences::userInfo() const {
    std::lock_guard lock(mutex_);
    return userInfo_;
}

void WrenPreferences::setUserInfo(std::optional<std::string> value) {
    std::lock_guard lock(mutex_);
    userInfo_ = std::move(value);
}
