// HTTP on libcurl (opened at run time, when the first request is due): URL requests,
// asynchronous data tasks with a completion on a background callback queue, and a
// synchronous send that runs entirely on the calling thread.
// The session never raises SIGPIPE in the host (CURLOPT_NOSIGNAL, MSG_NOSIGNAL sockets).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct URLRequest {
    std::string url;
    std::string method = "GET";
    // Header fields in the order they were set; names compare case-insensitively.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    double timeoutSeconds = 60.0;  // the platform default; zero or less also means 60 s

    void setHeader(const std::string& name, const std::string& value);
    std::optional<std::string> header(const std::string& name) const;
    std::string description() const;  // "<NSMutableURLRequest: 0x...> { URL: ... }"
};

struct HTTPResponse {
    long statusCode = 0;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string description() const;
};

struct URLError {
    std::string domain = "NSURLErrorDomain";
    long code = 0;  // -1001 timed out, -1004 cannot connect, -1 other
    std::string message;
    std::string description() const;
};

struct URLResult {
    std::optional<std::string> data;       // body bytes when a response arrived
    std::optional<HTTPResponse> response;  // when a response arrived
    std::optional<URLError> error;         // when the transfer failed
};

// Whether a synchronous send may load the HTTP library itself.
enum class TransportLoad {
    OnDemand,  // load it on the calling thread when nothing has yet
    // Never touch the dynamic loader (the crash path): send only when the library is
    // loaded, waiting at most the request's time-out for a load already under way.
    IfStarted,
};

class URLSession {
public:
    using Completion = std::function<void(const URLResult&)>;

    static URLSession& shared();

    // Starts the transfer on the session's I/O thread; completion runs on the session's
    // serial callback queue.
    void dataTask(URLRequest request, Completion completion);
    // Sends on the calling thread and returns after completion or time-out.
    // Without the library (not loadable, or not loaded under IfStarted) the result is an
    // error at once.
    URLResult sendSynchronous(const URLRequest& request, TransportLoad load = TransportLoad::OnDemand);
    // Starts the I/O thread, which loads libcurl, for requests that are about to be due.
    void startLoading();
    // Loads libcurl on the calling thread unless it is loaded already; true when it is.
    static bool loadTransport();
    // Whether libcurl has been loaded in this process.
    static bool transportLoaded();

    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

private:
    URLSession();
    ~URLSession();
    struct Impl;
    Impl* impl_;
};

}  // namespace platform
