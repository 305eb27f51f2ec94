// Helpers for the crash-side tests: a fixed reachability answer, deployment hosts pointed
// at a collector through the bundle's Info.plist, store inspection, and waiting for an
// event with a deadline (on the main run loop where deliveries go there).
#pragma once

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Value.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLSession.h"
#include "platform/runtime/RunLoop.h"
#include "support/Collector.h"
#include "support/FixedReachability.h"
#include "support/TestEnv.h"

#include <cstdlib>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace testenv {

// Runs `start` with TSAN_OPTIONS extended by `extra` for the children it starts; the
// calling process read its own options at start and is not affected.
inline void withChildSanitizerOptions(const char* extra, const std::function<void()>& start) {
    const char* old = std::getenv("TSAN_OPTIONS");
    const std::string saved = old ? old : "";
    ::setenv("TSAN_OPTIONS", (saved + " " + extra).c_str(), 1);
    start();
    if (old) {
        ::setenv("TSAN_OPTIONS", saved.c_str(), 1);
    } else {
        ::unsetenv("TSAN_OPTIONS");
    }
}

// The reference collector, started without thread-sanitizer reports of its own: they come
// from the uninstrumented HTTP library it is built on, not from the code under test.
inline std::unique_ptr<Collector> startCollector(const std::vector<std::string>& args = {}) {
    std::unique_ptr<Collector> c;
    withChildSanitizerOptions("report_bugs=0", [&] { c = std::make_unique<Collector>(args); });
    return c;
}

// Online also means what a launch's first request does: the HTTP library is loaded, so the
// crash-time send (which never loads it) can go out.
inline void setOnline(bool online) {
    platform::setReachabilitySource(std::make_shared<FixedReachability>(
        online ? platform::kReachabilityReachable : 0u));
    if (online) platform::URLSession::loadTransport();
}

// Points the crash and configuration hosts at `host` (and names the sandbox).
inline void useHosts(const std::string& host, const std::string& bundleId = "org.example.crashcore") {
    const std::string dir = makeTempDir("bundle");
    platform::Value info = platform::dict();
    info["CFBundleIdentifier"] = bundleId;
    info["QuillonCrashHost"] = host;
    info["QuillonConfigHost"] = host;
    platform::fs::writeAtomically(dir + "/Info.plist", *platform::toXMLPropertyList(info));
    platform::Bundle::main().reloadFrom(dir);
}

inline platform::Value readPlist(const std::string& path) {
    auto text = platform::fs::readFile(path);
    if (!text) return platform::Value();
    auto v = platform::parseXMLPropertyList(*text);
    return v ? *v : platform::Value();
}

// Polls `done` every 10 ms until it holds or `seconds` pass; true when it held.
inline bool waitUntil(const std::function<bool()>& done, double seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Runs the main run loop (on the main thread) until `done` holds or `seconds` pass.
inline bool runMainLoopUntil(const std::function<bool()>& done, double seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        platform::RunLoop::main().runOnce(0.02);
    }
    return true;
}

}  // namespace testenv
