// The crash side's runtime configuration: compiled-in limits, the host's choices copied in
// at initialisation, and the server-controlled values (up, rc, to, cv, configRequestTime),
// which are saved in "Quillon/Configuration" under Documents and loaded on creation.
// Also owns the leveled console log, which prints only when debug output is enabled.
#pragma once

#include "platform/foundation/Value.h"
#include "reliclass/QuillonGuardedValue.h"

#include <atomic>
#include <cstdint>

class QuillonDelegate;

class QuillonConfiguration {
public:
    static QuillonConfiguration& shareConfiguration();

    // Loads the configuration file and applies it without saving.
    void updateConfiguration();
    // Applies a dictionary and saves.
    void updateConfigurationWithDic(const platform::Value& dic);
    void updateConfigurationWithDic(const platform::Value& dic, bool isSave);
    bool saveConfigurationToFile();

    static void outputLogEnabled(bool enabled);
    static bool isLogEnabled();
    // Levels: 1 error, 2 warning, 4 information. The format is not evaluated when the log
    // is off.
    static void logWithLevel(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Fixed limits.
    std::int64_t ic = 50;
    std::int64_t po = 0;
    std::int64_t mc = 20;
    std::int64_t ep = 20;
    // Server-controlled values. Plain fields, read from several threads: readers tolerate a
    // stale value, so they are relaxed atomics rather than locked.
    std::atomic<std::int64_t> cv{0};
    std::atomic<std::int64_t> up{1};
    std::atomic<std::int64_t> rc{2};
    std::atomic<std::int64_t> to{3};
    std::atomic<double> configRequestTime{0.0};

    // The host's choices (copied in by the initialiser).
    QuillonDelegate* crashDelegate = nullptr;  // not owned
    bool enabledMonitorException = false;
    bool useLocationInfo = false;
    bool reportOnlyWIFI = false;
    bool printLogForDebug = false;
    // Whether the last report was an application extension's, and the extension's own
    // fields (null when unset); written by the notice handler and the report paths.
    std::atomic<bool> appex{false};
    QuillonGuardedValue<platform::Value> appexInfo;

    // What a device record built on the calling thread describes.
    struct AppexRecord {
        bool appex = false;
        platform::Value info;
    };
    // The report being assembled on this thread when there is one (see AppexScope), else the
    // shared fields above.
    AppexRecord appexForRecord() const;
    // Fixes what the device records built on this thread describe while it lives, so that a
    // report never mixes the host's fields with an extension's.
    class AppexScope {
    public:
        AppexScope(bool appex, platform::Value info);
        ~AppexScope();
        AppexScope(const AppexScope&) = delete;
        AppexScope& operator=(const AppexScope&) = delete;

    private:
        AppexRecord record_;
        const AppexRecord* outer_;
    };

private:
    QuillonConfiguration();
};
