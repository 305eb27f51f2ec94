#include "reliclass/QuillonConfiguration.h"

#include "platform/foundation/Logger.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonGuard.h"

#include <atomic>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <vector>

using platform::Value;

namespace {
std::atomic<bool> gLogEnabled{false};
thread_local const QuillonConfiguration::AppexRecord* tAppexRecord = nullptr;

std::string numberText(std::int64_t v) { return std::to_string(v); }
}  // namespace

QuillonConfiguration& QuillonConfiguration::shareConfiguration() {
    static QuillonConfiguration* instance = new QuillonConfiguration;
    return *instance;
}

QuillonConfiguration::AppexRecord QuillonConfiguration::appexForRecord() const {
    if (tAppexRecord) return *tAppexRecord;
    AppexRecord shared;
    shared.appex = appex.load();
    if (shared.appex) shared.info = appexInfo.load();
    return shared;
}

QuillonConfiguration::AppexScope::AppexScope(bool isAppex, platform::Value info)
    : record_{isAppex, std::move(info)}, outer_(tAppexRecord) {
    tAppexRecord = &record_;
}

QuillonConfiguration::AppexScope::~AppexScope() { tAppexRecord = outer_; }

QuillonConfiguration::QuillonConfiguration() {
    po = 0;
    ic = 50;
    mc = 20;
    ep = 20;
    rc = 2;
    to = 3;
    cv = 0;
    up = 1;
    configRequestTime = 0.0;
    updateConfiguration();
}

void QuillonConfiguration::updateConfiguration() {
    Value dic = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::configurationPath()).getConfiguration();
    updateConfigurationWithDic(dic, false);
}

void QuillonConfiguration::updateConfigurationWithDic(const Value& dic) { updateConfigurationWithDic(dic, true); }

void QuillonConfiguration::updateConfigurationWithDic(const Value& dic, bool isSave) {
    if (dic.is_null()) return;
    bool applied = quillon::guarded([&] {
        if (!dic.is_object()) throw std::invalid_argument("configuration is not a dictionary");
        for (const char* key : {"to", "rc", "up", "cv", "crt"}) {
            const Value* v = platform::find(dic, key);
            if (!v || v->is_null()) continue;
            const std::int64_t n = platform::integerValue(*v);
            const std::string k = key;
            if (k == "to") to = n;
            else if (k == "rc") rc = n;
            else if (k == "up") up = n;
            else if (k == "cv") cv = n;
            else configRequestTime = static_cast<double>(n);
        }
        return true;
    }, false);
    if (applied && isSave) saveConfigurationToFile();
}

bool QuillonConfiguration::saveConfigurationToFile() {
    Value record = platform::dict();
    record["cv"] = numberText(cv);
    record["up"] = numberText(up);
    record["rc"] = numberText(rc);
    record["to"] = numberText(to);
    // Shortest text that reads back as the same double (it may carry a fractional part).
    char crt[64];
    auto res = std::to_chars(crt, crt + sizeof crt, configRequestTime.load(), std::chars_format::fixed);
    record["crt"] = std::string(crt, res.ptr);
    return QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::configurationPath()).saveConfiguration(record);
}

void QuillonConfiguration::outputLogEnabled(bool enabled) { gLogEnabled.store(enabled, std::memory_order_relaxed); }

bool QuillonConfiguration::isLogEnabled() { return gLogEnabled.load(std::memory_order_relaxed); }

void QuillonConfiguration::logWithLevel(int level, const char* format, ...) {
    if (!isLogEnabled()) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, args);
        message.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    const char* tag = "(null)";  // what the platform logger prints for a missing tag
    switch (level) {
        case 1: tag = "[QUILLON ERROR]"; break;
        case 2: tag = "[QUILLON WARN]"; break;
        case 4: tag = "[QUILLON INFO]"; break;
        default: break;
    }
    platform::log(std::string(tag) + " " + message + "\n");
}
