// The collection server: crash endpoint, configuration endpoint, feedback endpoint, file
// store and the web page on the public listener; the inspection/control endpoints under
// "/_collector/" on a loopback-only control listener (or, for test rigs, the public one).
#pragma once

#include "Policy.h"
#include "Signature.h"
#include "Store.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
class ContentReader;
struct Request;
struct Response;
}  // namespace httplib

namespace symbols {
class SymbolStore;
}

namespace collector {

class Web;
class GatedServer;

struct Access {
    // Serve the control and inspection endpoints ("/_collector/...") on the public listener to
    // any address, and hand out and serve stored files without the token. For test rigs.
    bool testMode = false;
    // Requests arrive through these proxies (peer addresses): the page always needs the token,
    // and the client's address is the one the proxy adds to X-Forwarded-For.
    std::vector<std::string> trustedProxies;
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
    // Binds the control listener on 127.0.0.1 (port 0 picks one); returns its port, or -1.
    int bindControl(int port);
    // Serves until stop(); returns when all workers (and a regrouping under way) have ended.
    void run();
    // Callable from any thread: ends held and slow answers, stops accepting.
    void stop();
    // Where uploaded symbol files go (POST/GET /api/symbols); without one, uploads are refused.
    void setSymbolStore(symbols::SymbolStore* store) { symbols_ = store; }

private:
    void routes();
    void controlRoutes(httplib::Server& s);
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    using BodyHandler = std::function<void(const httplib::Request&, httplib::Response&, const httplib::ContentReader&)>;
    // The handler behind a bounded reading of the request's body (413 past the limit, 400
    // when cut short); every route that takes a body goes through it.
    BodyHandler readBody(Handler handler);
    // Checks every request that is not a report: the Host a browser was sent to (against DNS
    // rebinding) and, for requests that change state, that they do not come from another site.
    // Answers the refusal itself and returns false.
    bool checkRequest(const httplib::Request& req, httplib::Response& res, bool control);
    bool hostAllowed(const std::string& host) const;
    // The client's address: the peer, or behind a trusted proxy the address it forwarded.
    std::string clientAddress(const httplib::Request& req) const;
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
    // Asks the background worker to regroup the crashes; a regrouping under way starts over.
    void requestRegroup();
    void regroupWorker();
    // Stops the worker (between two batches) and waits for it.
    void endRegrouping();
    void reject(const httplib::Request& req, httplib::Response& res, int status, const std::string& reason);
    void log(const std::string& line);
    std::string fileUrl(const httplib::Request& req, std::int64_t id) const;

    Store& store_;
    Policy& policy_;
    bool verbose_;
    Access access_;
    std::string boundBase_;  // "http://host:port" of a specific listening address, else ""
    std::unique_ptr<Web> web_;
    std::string listenHost_;
    std::unique_ptr<GatedServer> http_;
    std::unique_ptr<httplib::Server> control_;
    std::unique_ptr<std::thread> controlThread_;
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    std::atomic<bool> stopping_{false};
    symbols::SymbolStore* symbols_ = nullptr;
    // Regrouping after symbol uploads, one at a time, off the request threads; guarded by
    // stopMutex_ and woken through stopCv_, so that stop() ends it too.
    bool regroupWanted_ = false;
    std::atomic<bool> regroupRestart_{false};
    std::thread regrouper_;
};

// Whether the address (listening host or peer) is a loopback one.
bool isLoopback(const std::string& address);

}  // namespace collector
