// An error handed to a feedback-side completion: a domain, a code and a user-info value.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/net/URLSession.h"

#include <string>

struct WrenError {
    std::string domain;
    long code = 0;
    platform::Value userInfo;  // null when there is none

    // The transport's own error, carried over unchanged.
    static WrenError fromURLError(const platform::URLError& e) {
        WrenError w{e.domain, e.code, platform::Value()};
        if (!e.message.empty()) w.userInfo = platform::Value{{"NSLocalizedDescription", e.message}};
        return w;
    }
};
