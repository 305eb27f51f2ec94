// The collection server: crash endpoint, configuration endpoint, feedback endpoint, file
// store, and the inspection/control endpoints under "/_collector/".
#pragma once

#include "Policy.h"
#include "Signature.h"
#include "Store.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace symbols {
class SymbolStore;
}

namespace collector {

class Web;

struct Access {
    // Serve the control and inspection endpoints ("/_collector/...") to any address, not
    // only to loopback peers. For test rigs.
    bool testMode = false;
    // Base of the addresses handed out for stored files ("http://host:port"); "" uses the
    // listening address (or, when listening on all addresses, the one the request came in on).
    std::string publicUrl;
    // Token the web page and /api/ require when the collector listens beyond loopback.
    std::string adminToken;
};

class Server {
public:
    Server(Store& store, Policy& policy, bool verbose, Access access = {});
    ~Server();
    // Binds; returns the bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); returns when all workers have ended.
    void run();
    // Callable from any thread: ends held and slow answers, stops accepting.
    void stop();
    // Where uploaded symbol files go (POST/GET /api/symbols); without one, uploads are refused.
    void setSymbolStore(symbols::SymbolStore* store) { symbols_ = store; }

private:
    void routes();
    void handleCrash(const httplib::Request& req, httplib::Response& res, bool configEndpoint);
    void handleFeedback(const httplib::Request& req, httplib::Response& res);
    void handleFileUpload(const httplib::Request& req, httplib::Response& res);
    void handleSymbolsUpload(const httplib::Request& req, httplib::Response& res);
    // The page's token rule (required beyond loopback); answers the refusal itself.
    bool symbolsAllowed(const httplib::Request& req, httplib::Response& res);
    // Applies the transport-level part of an answer (slow, noanswer, http500, garbage).
    // Returns true when the response is complete and the caller should not fill it.
    bool applyTransportMode(const Answer& a, const httplib::Request& req, httplib::Response& res);
    // Waits up to ms; false when the server is stopping.
    bool waitMs(int ms);
    void reject(const httplib::Request& req, httplib::Response& res, int status, const std::string& reason);
    void log(const std::string& line);
    // Whether the control endpoints may answer this request; answers 403 itself when not.
    bool controlAllowed(const httplib::Request& req, httplib::Response& res);
    std::string fileUrl(const httplib::Request& req, std::int64_t id) const;

    Store& store_;
    Policy& policy_;
    bool verbose_;
    Access access_;
    std::string boundBase_;  // "http://host:port" of a specific listening address, else ""
    std::unique_ptr<Web> web_;
    std::unique_ptr<httplib::Server> http_;
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    std::atomic<bool> stopping_{false};
    symbols::SymbolStore* symbols_ = nullptr;
};

// Whether the address (listening host or peer) is a loopback one.
bool isLoopback(const std::string& address);

}  // namespace collector
