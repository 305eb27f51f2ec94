// The feedback side's facade: starts the loader and forwards to it once it exists. Before a
// successful start every call does nothing.
#include "wren/Wren.h"

#include "Wren/WrenLoader.h"

void Wren::init(const String& appKey) { init(appKey, WrenConfig::defaultConfig()); }

void Wren::init(const String& appKey, const WrenConfig& config) { WrenLoader::init(appKey, config); }

void Wren::setUserInfo(const String& userInfo) {
    if (WrenLoader* loader = WrenLoader::activeInstance()) loader->setUserInfo(userInfo);
}

void Wren::setUserData(const String& value, const String& key) {
    if (WrenLoader* loader = WrenLoader::activeInstance()) loader->setUserData(value, key);
}

void Wren::removeAllUserData() {
    if (WrenLoader* loader = WrenLoader::activeInstance()) loader->removeAllUserData();
}

void Wren::enabledShakeReport(bool enabled) {
    if (WrenLoader* loader = WrenLoader::activeInstance()) loader->enabledShakeReport(enabled);
}

void Wren::switchWayOfFeedback(std::int64_t way) {
    if (WrenLoader* loader = WrenLoader::activeInstance()) loader->switchWayOfFeedback(way);
}

void Wren::feedbackWithMessage(const String& message, const void* /*userInfo*/) {
    if (WrenLoader* loader = WrenLoader::activeInstance()) loader->feedbackWithMessage(message, nullptr);
}

void Wren::terminate() {}
