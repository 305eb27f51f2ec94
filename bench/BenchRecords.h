// Records the store benchmarks fill their lists with.
#pragma once

#include "platform/foundation/Logger.h"
#include "platform/foundation/Value.h"

#include <string>

namespace benchtiming {

// A crash record of about 8 KB, as a 60-frame signal report is, as the crash list stores it.
inline platform::Value crashPayload(int i) {
    platform::Value data = platform::dict();
    data["name"] = "exception Signal";
    std::string et = "Application received signal SIGSEGV\n";
    for (int line = 0; line < 60; ++line)
        et += platform::format("%-3d %-35s 0x%016lx 0x%016lx %s + %d\n", line, "libexample.so", 0x7f0000001000ul + line,
                               0x1000ul + line, "example_function_name", line);
    data["et"] = et;
    data["tm"] = std::to_string(1700000000 + i);
    platform::Value body = platform::dict();
    body["data"] = data;
    platform::Value p = platform::dict();
    p["ac"] = "submit";
    p["body"] = body;
    return p;
}

}  // namespace benchtiming
