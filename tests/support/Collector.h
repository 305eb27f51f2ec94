// A quillon-collector child process for tests: started on a free port with its own
// database in a temporary directory, inspected and steered over its HTTP control endpoints,
// and stopped when the object goes away.
#pragma once

#include "platform/foundation/Value.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testenv {

class Collector {
public:
    // Extra command-line arguments follow "--port 0 --db <tempdir>/db.sqlite" (a "--db" among
    // them takes its place) and "--test-mode", which serves the control endpoints used below on
    // the main port, unless testMode is false. Throws std::runtime_error when the collector
    // does not come up.
    explicit Collector(const std::vector<std::string>& extraArgs = {}, bool testMode = true);
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // Sends SIGTERM and waits for the collector to end; returns its exit status (or -1 when it
    // had to be killed or was not running). The destructor does the same.
    int stop();
    // Ends the collector with SIGKILL, as a crash or the OOM killer would.
    void kill();

    int port() const { return port_; }
    // The control listener's port when started with --control-port, else 0.
    int controlPort() const { return controlPort_; }
    std::string host() const;                           // "127.0.0.1:PORT"
    std::string url(const std::string& path = "") const;  // "http://127.0.0.1:PORT" + path
    const std::string& dbPath() const { return db_; }

    // Stored data (empty arrays, and a test failure, when the collector cannot be reached).
    platform::Value records();
    platform::Value feedback();
    platform::Value files();
    platform::Value rejects();
    // Replaces the live policy layer; returns the effective policy (null on failure).
    platform::Value setPolicy(const platform::Value& policy);
    void reset();

    // Polls until at least n records (feedback reports) are stored or the time is up;
    // returns what is stored then.
    platform::Value waitForRecords(std::size_t n, double timeoutSeconds = 10);
    platform::Value waitForFeedback(std::size_t n, double timeoutSeconds = 10);

    // Raw requests for tests of the server itself. status is -1 when no answer came.
    struct Reply {
        int status = -1;
        std::string body;
        std::string contentType;
        std::multimap<std::string, std::string> headers;
    };
    Reply post(const std::string& path, const std::string& body,
               const std::map<std::string, std::string>& headers = {},
               const std::string& contentType = "application/json", double readTimeoutSeconds = 10);
    Reply get(const std::string& path, const std::map<std::string, std::string>& headers = {});

private:
    platform::Value getJson(const std::string& path);
    platform::Value waitFor(const std::string& path, std::size_t n, double timeoutSeconds);
    pid_t pid_ = -1;
    int port_ = 0;
    int controlPort_ = 0;
    std::string db_;
};

}  // namespace testenv
