// How the collector answers. The effective policy is built from three layers, later ones
// overriding earlier ones key by key: the command line (--answer, --config-json), the policy
// file (re-read on every request so a test can change it while the server runs) and the live
// layer set through POST /_collector/policy.
//
// Policy JSON:
//   {"mode": "ok", "slowMs": 1000, "holdMs": 60000, "code": 1, "msg": "...",
//    "endpoints": {"crash": {...}, "config": {...}, "pre": {...}, "fs": {...}},
//    "config": {"up": 1, "rc": 2, "to": 3, "cv": 0, "crt": 0},
//    "apiKey": "...", "signingKey": "..."}
// Modes: ok, en1, code1 (both: failure code with "msg"), http500, slow (wait slowMs, then
// ok), garbage (HTTP 200, not JSON), noanswer (hold the connection up to holdMs, then drop
// it), emptydata (success with an empty "data"), nocode (success body without "en"/"code").
#pragma once

#include "Store.h"

#include <mutex>
#include <optional>
#include <string>

namespace collector {

enum class Endpoint { Crash, Config, Feedback, FileStore };
const char* endpointName(Endpoint e);

struct Answer {
    std::string mode = "ok";
    int slowMs = 1000;
    int holdMs = 60000;
    int code = 1;
    std::string msg = "rejected by collector policy";
};

// Empty when the policy is acceptable, else what is wrong with it.
std::string validatePolicy(const Json& policy);

class Policy {
public:
    void setCommandLine(const Json& layer);
    void setFile(const std::string& path);
    // Keeps the live layer in the store's settings, so that every collector process on the
    // database answers by it.
    void share(Store& store);
    // Replaces the live layer.
    void setLive(const Json& layer);
    Json effective();
    Answer answerFor(Endpoint e);
    // The configuration answer's values: up, rc, to, cv and, when configured, crt.
    Json configValues();
    std::string apiKey();
    std::string signingKey();

private:
    Json fileLayer();
    Json liveLayer();
    std::mutex mutex_;
    Store* shared_ = nullptr;
    Json cli_ = Json::object();
    Json live_ = Json::object();
    std::string file_;
    Json lastGoodFile_ = Json::object();
};

}  // namespace collector
