// Reading crash records as a person would: backtrace lines split into their fields, C++ names
// demangled, the first frame that belongs to the application rather than to the reporting
// library or the system, and reasons with their numbers and addresses masked, which together
// decide the group a crash falls into.
#pragma once

#include "Store.h"
#include "Symbolication.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace collector {

struct Frame {
    std::string raw;           // the line as received
    bool parsed = false;       // whether it had the backtrace line's shape
    std::string image;         // file name of the image
    std::string address;       // "0x..." return address
    std::string offset;        // "0x..." address minus the image's load address
    std::string symbol;        // nearest symbol as received ("(null)" when unknown)
    std::string function;      // demangled symbol, "" when unknown
    std::string symbolOffset;  // "+ N" part
    std::optional<ResolvedFrame> resolved;
    bool system = false;       // inside the reporting library, the C/C++ runtime or the loader
    // "function (file:line)" when resolved, the demangled function, or "image + offset".
    std::string label() const;
};

// "0x0000000000001a2c" as "0x1a2c".
std::string shortHex(const std::string& hex);

// C++ names demangled through the runtime; anything else comes back unchanged.
std::string demangle(const std::string& symbol);

// Hexadecimal addresses become "0x…" and free-standing decimal numbers "N".
std::string maskNumbers(const std::string& text);

// The fields of one backtrace line "%-3d %-35s 0x%016lx 0x%016lx %s + %d" (views into it).
struct LineFields {
    std::string_view image, address, offset, symbol, delta;
};
// Nothing when the line does not have that shape. Linear in the line's length.
std::optional<LineFields> splitBacktraceLine(std::string_view line);

// One Frame per line of the backtrace text; the resolver (when set) is asked for each. With the
// installed frame resolver, the whole-backtrace resolver answers instead when one is set, so
// that the frame a signal interrupted (signal: a record named "exception Signal") is looked up
// at its own address.
std::vector<Frame> parseBacktrace(const std::string& text, const FrameResolver* resolver = nullptr,
                                  const std::string& appKey = "", const std::string& appVersion = "",
                                  bool signal = false);

// Index of the first frame that belongs to the application, or -1. For a signal the frames up
// to the signal trampoline (the first C library frame) are the handler's own and are skipped.
int firstApplicationFrame(const std::vector<Frame>& frames, bool signal);

// What the overview needs of a record, worked out once when it is stored.
struct RecordSummary {
    std::string groupId;    // 16 hex digits: crash group, or pooled identifier of an exception
    std::string masked;     // reason with numbers masked
    std::string topFrame;   // label of the first application frame ("" when none)
    std::string device;     // device identifier ("und")
    std::string appVersion; // "av"
    std::string osVersion;  // "ov"
    std::string message;    // "msg" of customized exceptions
    double crashTime = 0;   // "tm" of the event, else the time it arrived
    std::int64_t count = 1; // occurrences ("ct" of customized exceptions)
};

RecordSummary summarize(const std::string& ak, const std::string& itemAc, const Json& body,
                        const std::string& name, const std::string& reason, const std::string& backtrace,
                        double receivedAt, const FrameResolver* resolver);

// The device record inside a crash-side body ("dei" for crashes, the body itself otherwise).
const Json& deviceRecord(const Json& body);

}  // namespace collector
