#include "Server.h"

#include "Bounded.h"
#include "Gate.h"
#include "Ingest.h"
#include "SymbolStore.h"
#include "Symbolication.h"
#include "Web.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>

namespace collector {

namespace {

const char* kJson = "application/json";

void sendJson(httplib::Response& res, const Json& body, int status = 200) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), kJson);
}

int portOf(const sockaddr_storage& ss) {
    if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(ss).sin_port);
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(ss).sin6_port);
    return -1;
}

// The accepted socket that carries this request, found by its two port numbers, so that a
// held request can notice when the client gives up. -1 when not found.
int findConnection(const httplib::Request& req) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int found = -1;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || fd == dirfd(dir)) continue;
        struct stat st {};
        if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        sockaddr_storage local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
        if (portOf(local) == req.local_port && portOf(peer) == req.remote_port) {
            found = static_cast<int>(fd);
            break;
        }
    }
    closedir(dir);
    return found;
}

// Whether the peer has closed its side of the connection.
bool peerClosed(int fd) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) return true;
    char c;
    return recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

std::string hostPort(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string trim(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// "name" of "name:port", "[v6]:port", "v6" (brackets kept off), lower case.
std::string hostName(const std::string& hostHeader) {
    std::string h = lower(trim(hostHeader));
    if (!h.empty() && h.front() == '[') return h.substr(1, h.find(']') == std::string::npos ? h.size() - 1 : h.find(']') - 1);
    if (std::count(h.begin(), h.end(), ':') == 1) h = h.substr(0, h.find(':'));
    return h;
}

// The host of an http(s) address ("http://name:port/path" -> "name").
std::string urlHost(const std::string& url) {
    const std::size_t start = url.find("://");
    if (start == std::string::npos) return {};
    const std::string rest = url.substr(start + 3);
    return hostName(rest.substr(0, rest.find('/')));
}

// What a browser may send across sites without asking first (a form or a plain fetch).
bool simpleContentType(const std::string& contentType) {
    const std::string media = lower(trim(contentType.substr(0, contentType.find(';'))));
    return media.empty() || media == "text/plain" || media == "application/x-www-form-urlencoded" ||
           media == "multipart/form-data";
}

// The reporting endpoints: open to anyone, checked by their own validation.
bool reportPath(const httplib::Request& req) {
    return req.method == "POST" && (req.path == "/" || req.path == "/cpi/crash" || req.path == "/cpi/pre" ||
                                    req.path == "/fs.action");
}

const httplib::Headers& securityHeaders() {
    static const httplib::Headers headers = {
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy",
         "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; form-action 'self'; "
         "frame-ancestors 'none'; base-uri 'none'"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"}};
    return headers;
}

}  // namespace

bool isLoopback(const std::string& address) {
    std::string a = address;
    if (a.rfind("::ffff:", 0) == 0) a = a.substr(7);
    return a.rfind("127.", 0) == 0 || a == "::1" || a == "localhost";
}

Server::Server(Store& store, Policy& policy, bool verbose, Access access)
    : store_(store), policy_(policy), verbose_(verbose), access_(std::move(access)),
      web_(std::make_unique<Web>(store, access_.adminToken, false)), http_(std::make_unique<GatedServer>()) {
    // Held ("noanswer") requests occupy a worker each (64 of them); a connection takes one only
    // once its request head has arrived whole (GatedServer).
    // Accepted sockets inherit TCP_NODELAY from the listening socket; without it every
    // answer on a reused connection waits for the peer's delayed ACK.
    http_->set_tcp_nodelay(true);
    http_->set_payload_max_length(kMaxBodyBytes);
    http_->set_keep_alive_max_count(1000);
    http_->set_default_headers(securityHeaders());
    http_->setUnbounded([this](const std::string& peer) {
        return std::find(access_.trustedProxies.begin(), access_.trustedProxies.end(), peer) !=
               access_.trustedProxies.end();
    });
    http_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return reportPath(req) || checkRequest(req, res, false) ? httplib::Server::HandlerResponse::Unhandled
                                                                  : httplib::Server::HandlerResponse::Handled;
    });
    http_->set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        log("error on " + req.path + ": " + what);
        res.status = 500;
        res.set_content(std::string("collector error: ") + what, "text/plain");
    });
    if (verbose_) {
        http_->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            log(req.method + " " + req.path + " from " + clientAddress(req) + " -> " + std::to_string(res.status));
        });
    }
    routes();
    regrouper_ = std::thread([this] { regroupWorker(); });
}

Server::~Server() { endRegrouping(); }

void Server::endRegrouping() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    if (regrouper_.joinable()) regrouper_.join();
}

void Server::requestRegroup() {
    {
        std::lock_guard lock(stopMutex_);
        regroupWanted_ = true;
        regroupRestart_ = true;
    }
    stopCv_.notify_all();
}

void Server::regroupWorker() {
    for (;;) {
        {
            std::unique_lock lock(stopMutex_);
            stopCv_.wait(lock, [this] { return regroupWanted_ || stopping_.load(); });
            if (stopping_) return;
            regroupWanted_ = false;
            regroupRestart_ = false;
        }
        try {
            store_.regroup(&frameResolver(), [this] { return !stopping_ && !regroupRestart_; });
        } catch (const std::exception& e) {
            log(std::string("regrouping after a symbol upload failed: ") + e.what());
        }
    }
}

int Server::bind(const std::string& host, int port) {
    const int bound = port == 0 ? http_->bind_to_any_port(host) : http_->bind_to_port(host, port) ? port : -1;
    const bool wildcard = host.empty() || host == "0.0.0.0" || host == "::" || host == "*";
    boundBase_ = bound > 0 && !wildcard ? "http://" + hostPort(host, bound) : "";
    listenHost_ = wildcard ? "" : hostName(host);
    // Behind a proxy every request comes from the proxy's address, loopback or not.
    web_->setTokenRequired(!isLoopback(host) || !access_.trustedProxies.empty());
    return bound;
}

int Server::bindControl(int port) {
    control_ = std::make_unique<httplib::Server>();
    control_->new_task_queue = [] { return new httplib::ThreadPool(4); };
    control_->set_tcp_nodelay(true);
    control_->set_payload_max_length(1u << 20);
    control_->set_default_headers(securityHeaders());
    control_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return checkRequest(req, res, true) ? httplib::Server::HandlerResponse::Unhandled
                                            : httplib::Server::HandlerResponse::Handled;
    });
    if (verbose_)
        control_->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            log("control: " + req.method + " " + req.path + " -> " + std::to_string(res.status));
        });
    controlRoutes(*control_);
    return port == 0 ? control_->bind_to_any_port("127.0.0.1") : control_->bind_to_port("127.0.0.1", port) ? port : -1;
}

bool Server::hostAllowed(const std::string& hostHeader) const {
    const std::string h = hostName(hostHeader);
    return h.empty() || h == "localhost" || h.rfind("127.", 0) == 0 || h == "::1" ||
           (!listenHost_.empty() && h == listenHost_) ||
           (!access_.publicUrl.empty() && h == urlHost(access_.publicUrl));
}

bool Server::checkRequest(const httplib::Request& req, httplib::Response& res, bool control) {
    auto refuse = [&](int status, const std::string& why) {
        log("refused " + req.method + " " + req.path + " from " + clientAddress(req) + ": " + why);
        sendJson(res, {{"error", why}}, status);
        return false;
    };
    // A page open without a token answers only under its own names: a rebound DNS name would
    // otherwise let any web site read it.
    if ((control || !web_->tokenRequired()) && !hostAllowed(req.get_header_value("Host")))
        return refuse(421, "this collector answers only for Host 127.0.0.1, localhost, [::1], its listening "
                           "address and the host of --public-url");
    if (req.method == "GET" || req.method == "HEAD") return true;
    const std::string site = lower(req.get_header_value("Sec-Fetch-Site"));
    if (!site.empty() && site != "same-origin" && site != "none")
        return refuse(403, "cross-site request refused (Sec-Fetch-Site: " + site + ")");
    if (req.has_header("Origin")) {
        const std::string origin = lower(req.get_header_value("Origin")), host = lower(req.get_header_value("Host"));
        if (origin != "http://" + host && origin != "https://" + host)
            return refuse(403, "cross-site request refused (Origin " + origin + ")");
    }
    // A form or a plain fetch from another site cannot send any other type without asking first.
    if (simpleContentType(req.get_header_value("Content-Type")))
        return refuse(415, "requests that change the collector need a Content-Type such as application/json");
    return true;
}

std::string Server::clientAddress(const httplib::Request& req) const {
    const auto& proxies = access_.trustedProxies;
    auto trusted = [&](const std::string& a) { return std::find(proxies.begin(), proxies.end(), a) != proxies.end(); };
    if (!trusted(req.remote_addr) || !req.has_header("X-Forwarded-For")) return req.remote_addr;
    // The rightmost address not added by a trusted proxy is the one the proxy saw.
    const std::string chain = req.get_header_value("X-Forwarded-For");
    std::size_t end = chain.size();
    while (true) {
        const std::size_t comma = end == 0 ? std::string::npos : chain.rfind(',', end - 1);
        const std::size_t start = comma == std::string::npos ? 0 : comma + 1;
        const std::string a = trim(chain.substr(start, end - start));
        if (!a.empty() && !trusted(a)) return clipText(a, 64);
        if (comma == std::string::npos) return req.remote_addr;
        end = comma;
    }
}

std::string Server::fileUrl(const httplib::Request& req, std::int64_t id) const {
    // Never the client's Host header: the address handed out must be the collector's own.
    std::string base = access_.publicUrl;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (base.empty()) base = boundBase_;
    if (base.empty()) base = "http://" + hostPort(req.local_addr, req.local_port);
    return base + "/_collector/files/" + std::to_string(id) + ".jpg";
}

void Server::run() {
    if (control_) controlThread_ = std::make_unique<std::thread>([this] { control_->listen_after_bind(); });
    http_->listen_after_bind();
    http_->drain();
    if (controlThread_) {
        control_->stop();
        controlThread_->join();
    }
    endRegrouping();  // the store may be closed once serving has ended
}

void Server::stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    http_->stop();
    if (control_) control_->stop();
}

bool Server::waitMs(int ms) {
    std::unique_lock lock(stopMutex_);
    return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

// What clients sent stays on one line and sends no escape sequences to a terminal.
void Server::log(const std::string& line) {
    std::cerr << "quillon-collector: " + escapeControl(clipText(line, 4096)) + "\n" << std::flush;
}

void Server::reject(const httplib::Request& req, httplib::Response& res, int status, const std::string& reason) {
    log("rejected " + req.path + ": " + reason);
    store_.addReject(req.path, reason, req.get_header_value("UPLOAD-JSON"));
    sendJson(res, {{"en", 1}, {"error", reason}}, status);
}

bool Server::applyTransportMode(const Answer& a, const httplib::Request& req, httplib::Response& res) {
    if (a.mode == "slow") {
        if (!waitMs(a.slowMs)) {
            res.status = 503;
            res.set_content("collector shutting down", "text/plain");
            return true;
        }
        return false;
    }
    if (a.mode == "http500") {
        res.status = 500;
        res.set_content("collector policy: http500", "text/plain");
        return true;
    }
    if (a.mode == "garbage") {
        res.status = 200;
        res.set_content("<html><body>this is not JSON</body></html>", "text/html");
        return true;
    }
    if (a.mode == "noanswer") {
        const int fd = findConnection(req);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(a.holdMs);
        bool gone = false;
        while (std::chrono::steady_clock::now() < deadline) {
            if (fd >= 0 && peerClosed(fd)) {
                gone = true;
                break;
            }
            if (!waitMs(50)) break;
        }
        // Drop the connection so that the client never sees an answer.
        if (fd >= 0 && !gone) ::shutdown(fd, SHUT_RDWR);
        res.status = 503;
        res.set_header("Connection", "close");
        return true;
    }
    return false;
}

void Server::handleCrash(const httplib::Request& req, httplib::Response& res, bool configEndpoint) {
    if (!req.has_header("UPLOAD-JSON")) return reject(req, res, 400, "missing UPLOAD-JSON header");
    CrashRequest in = readCrashRequest(req.path, req.get_header_value("UPLOAD-JSON"), req.body, configEndpoint);
    if (!in.problem.empty()) return reject(req, res, 400, in.problem);
    std::vector<Record>& records = in.records;
    const std::string action = records.front().ac;

    const Answer answer = policy_.answerFor(configEndpoint ? Endpoint::Config : Endpoint::Crash);
    for (auto& r : records) r.answer = answer.mode;
    store_.addRecords(records);

    if (applyTransportMode(answer, req, res)) return;
    const Json config = action == "config" ? policy_.configValues() : Json::object();
    Json out = Json::object();
    if (answer.mode == "en1" || answer.mode == "code1") {
        out = {{"en", answer.code}, {"msg", answer.msg}};
    } else if (answer.mode == "nocode") {
        out = config;
    } else if (answer.mode == "emptydata") {
        out = {{"en", 0}};
    } else {
        out = {{"en", 0}};
        out.update(config);
    }
    sendJson(res, out);
}

void Server::handleFeedback(const httplib::Request& req, httplib::Response& res) {
    auto fail = [&](const std::string& reason) {
        log("rejected " + req.path + ": " + reason);
        store_.addReject(req.path, reason, req.body.substr(0, 2000));
        sendJson(res, {{"code", 400}, {"msg", reason}}, 400);
    };
    FeedbackRequest in = readFeedbackRequest(req.get_header_value("Content-Type"), req.body);
    if (!in.problem.empty()) return fail(in.problem);
    const Answer answer = policy_.answerFor(Endpoint::Feedback);
    const std::int64_t id = store_.addFeedback(in.appkey, in.type, in.message, in.body, answer.mode);

    if (applyTransportMode(answer, req, res)) return;
    if (answer.mode == "en1" || answer.mode == "code1")
        sendJson(res, {{"code", answer.code}, {"msg", answer.msg}});
    else if (answer.mode == "emptydata")
        sendJson(res, {{"code", 0}, {"msg", "ok"}, {"data", Json::object()}});
    else if (answer.mode == "nocode")
        sendJson(res, {{"msg", "ok"}, {"data", {{"id", id}}}});
    else
        sendJson(res, {{"code", 0}, {"msg", "ok"}, {"data", {{"id", id}}}});
}

void Server::handleFileUpload(const httplib::Request& req, httplib::Response& res) {
    const std::string header = req.get_header_value("UPLOAD-JSON");
    std::string problem = header.empty() ? "missing UPLOAD-JSON header"
                                         : checkUploadSignature(header, policy_.apiKey(), policy_.signingKey());
    if (!problem.empty()) {
        log("rejected " + req.path + ": " + problem);
        store_.addReject(req.path, problem, header);
        sendJson(res, {{"code", problem == "signature mismatch" ? 4001 : 4000}, {"msg", problem}});
        return;
    }
    const Answer answer = policy_.answerFor(Endpoint::FileStore);
    const std::int64_t id = store_.addFile(header, req.body, answer.mode);

    if (applyTransportMode(answer, req, res)) return;
    const Json fileinfo = {{"fileUrl", fileUrl(req, id)},
                           {"fileid", id},
                           {"size", req.body.size()}};
    if (answer.mode == "en1" || answer.mode == "code1")
        sendJson(res, {{"code", answer.code}, {"msg", answer.msg}});
    else if (answer.mode == "emptydata")
        sendJson(res, {{"code", 0}, {"msg", "ok"}, {"data", Json::object()}});
    else if (answer.mode == "nocode")
        sendJson(res, {{"msg", "ok"}, {"data", {{"fileinfo", fileinfo}}}});
    else
        sendJson(res, {{"code", 0}, {"msg", "ok"}, {"data", {{"fileinfo", fileinfo}}}});
}

bool Server::symbolsAllowed(const httplib::Request& req, httplib::Response& res) {
    const std::string auth = req.get_header_value("Authorization");
    if (web_->authorized(auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : "", "", req.get_param_value("token")))
        return true;
    log("refused " + req.method + " " + req.path + " from " + clientAddress(req) + ": no admin token");
    sendJson(res, {{"error", "symbol files need the collector's admin token: send \"Authorization: Bearer TOKEN\""}},
             401);
    return false;
}

void Server::handleSymbolsUpload(const httplib::Request& req, httplib::Response& res) {
    if (!symbolsAllowed(req, res)) return;
    if (!symbols_) return reject(req, res, 503, "this collector keeps no symbol files");
    if (!req.has_param("ak") || !req.has_param("av"))
        return reject(req, res, 400, "symbol upload needs the query parameters ak and av");
    std::string text, error;
    if (!symbols::gunzipIfNeeded(req.body, text, error)) return reject(req, res, 400, error);
    const std::string ak = req.get_param_value("ak"), av = req.get_param_value("av");
    auto stored = symbols_->put(ak, av, text, error);
    if (!stored) return reject(req, res, 400, error);
    log("symbols for " + ak + " " + av + " " + stored->image + (stored->replaced ? " replaced" : " stored"));
    requestRegroup();  // crashes regroup under the functions now known, in the background
    sendJson(res, {{"ok", true}, {"ak", ak}, {"av", av}, {"image", stored->image}, {"buildId", stored->buildId},
                   {"functions", stored->functions}, {"lines", stored->lines}, {"replaced", stored->replaced}});
}

// The client sends its bodies without a Content-Type of its own, so they arrive as the
// HTTP client's default, application/x-www-form-urlencoded. Plain handlers would have
// cpp-httplib parse such bodies as forms and refuse any above 8 KB (413); reading the
// body through a content reader takes it as it is. The reader stops at kMaxBodyBytes
// whether the body comes with a Content-Length or chunked (which cpp-httplib does not
// bound), and a body that cannot be read whole is answered here before any handler sees
// it: 413 when too large, 400 when cut short or malformed (a truncated multipart body).
// A multipart body (a form upload) stands for its first part.
Server::BodyHandler Server::readBody(Handler handler) {
    return [this, handler](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) {
        httplib::Request full = req;
        std::size_t total = 0;
        bool tooLarge = false;
        auto keep = [&](const char* data, std::size_t length, bool wanted) {
            total += length;
            if (total > kMaxBodyBytes) {
                tooLarge = true;
                return false;
            }
            if (wanted) full.body.append(data, length);
            return true;
        };
        bool whole;
        if (req.is_multipart_form_data()) {
            int parts = 0;
            whole = reader([&](const httplib::MultipartFormData&) { return ++parts > 0; },
                           [&](const char* data, std::size_t length) { return keep(data, length, parts == 1); });
        } else {
            whole = reader([&](const char* data, std::size_t length) { return keep(data, length, true); });
        }
        if (!whole || tooLarge || res.status == 413) {
            const bool large = tooLarge || res.status == 413;
            const std::string why = large ? "body is larger than " + std::to_string(kMaxBodyBytes) + " bytes"
                                          : "body could not be read whole";
            log("refused " + req.method + " " + req.path + ": " + why);
            // What is left of the body would be read as the next request.
            res.set_header("Connection", "close");
            return sendJson(res, {{"error", why}}, large ? 413 : 400);
        }
        handler(full, res);
    };
}

void Server::routes() {
    auto& s = *http_;
    auto withBody = [this](Handler handler) { return readBody(std::move(handler)); };
    s.Post("/", withBody([this](const httplib::Request& req, httplib::Response& res) { handleCrash(req, res, true); }));
    s.Post("/cpi/crash",
           withBody([this](const httplib::Request& req, httplib::Response& res) { handleCrash(req, res, false); }));
    s.Post("/cpi/pre", withBody([this](const httplib::Request& req, httplib::Response& res) { handleFeedback(req, res); }));
    s.Post("/fs.action",
           withBody([this](const httplib::Request& req, httplib::Response& res) { handleFileUpload(req, res); }));
    s.Post("/api/symbols",
           withBody([this](const httplib::Request& req, httplib::Response& res) { handleSymbolsUpload(req, res); }));
    s.Get("/api/symbols", [this](const httplib::Request& req, httplib::Response& res) {
        if (!symbolsAllowed(req, res)) return;
        Json list = Json::array();
        if (symbols_)
            for (const auto& s : symbols_->list())
                list.push_back({{"ak", s.appKey}, {"av", s.version}, {"image", s.image}, {"buildId", s.buildId},
                                {"functions", s.functions}, {"lines", s.lines}});
        sendJson(res, list);
    });

    web_->install(s);

    // Stored files, at the addresses handed to the clients: with the page's token, or open to
    // test rigs.
    s.Get(R"(/_collector/files/(\d{1,18})(\.jpg)?)", [this](const httplib::Request& req, httplib::Response& res) {
        if (!access_.testMode && !web_->requestAuthorized(req)) {
            log("refused " + req.path + " from " + clientAddress(req) + ": no admin token");
            return sendJson(res, {{"error", "stored files need the collector's admin token"}}, 401);
        }
        auto data = store_.fileData(std::stoll(req.matches[1].str()));
        if (!data) return sendJson(res, {{"error", "no such file"}}, 404);
        Web::sendFile(res, *data);
    });
    if (access_.testMode) {
        controlRoutes(s);
    } else {
        auto elsewhere = [](const httplib::Request&, httplib::Response& res) {
            sendJson(res, {{"error", "inspection and control answer on the control listener (--control-port N), "
                                     "or here with --test-mode"}}, 404);
        };
        s.Get("/_collector/.*", elsewhere);
        s.Post("/_collector/.*", readBody(elsewhere));
    }
    // Any other request with a body: cpp-httplib would read a chunked one whole before finding
    // no handler; the bounded reader reads it instead, and the answer is 404. Content-reader
    // routes are tried before plain ones, so every POST route above reads through readBody.
    auto nothingHere = readBody([](const httplib::Request&, httplib::Response& res) {
        sendJson(res, {{"error", "not found"}}, 404);
    });
    s.Post(".*", nothingHere);
    s.Put(".*", nothingHere);
    s.Patch(".*", nothingHere);
    s.Delete(".*", nothingHere);
}

void Server::controlRoutes(httplib::Server& s) {
    s.Get("/_collector/records", [this](const httplib::Request&, httplib::Response& res) { sendJson(res, store_.records()); });
    s.Get("/_collector/feedback", [this](const httplib::Request&, httplib::Response& res) { sendJson(res, store_.feedback()); });
    s.Get("/_collector/files", [this](const httplib::Request& req, httplib::Response& res) {
        Json files = store_.files();
        for (auto& f : files) f["url"] = fileUrl(req, f["id"].get<std::int64_t>());
        sendJson(res, files);
    });
    if (&s != http_.get())
        s.Get(R"(/_collector/files/(\d{1,18})(\.jpg)?)", [this](const httplib::Request& req, httplib::Response& res) {
            auto data = store_.fileData(std::stoll(req.matches[1].str()));
            if (!data) return sendJson(res, {{"error", "no such file"}}, 404);
            Web::sendFile(res, *data);
        });
    s.Get("/_collector/rejects", [this](const httplib::Request&, httplib::Response& res) { sendJson(res, store_.rejects()); });
    s.Get("/_collector/policy", [this](const httplib::Request&, httplib::Response& res) { sendJson(res, policy_.effective()); });
    s.Post("/_collector/policy", readBody([this](const httplib::Request& req, httplib::Response& res) {
        std::string problem;
        auto p = req.body.empty() ? std::optional<Json>(Json::object()) : parseJson(req.body, &problem);
        if (p) problem = validatePolicy(*p);
        else problem = problem == "not JSON" ? "policy is not JSON" : "policy " + problem;
        if (!problem.empty()) return sendJson(res, {{"error", problem}}, 400);
        policy_.setLive(*p);
        sendJson(res, policy_.effective());
    }));
    s.Post("/_collector/reset", readBody([this](const httplib::Request& req, httplib::Response& res) {
        log("reset by " + clientAddress(req));
        store_.reset();
        sendJson(res, {{"ok", true}});
    }));
}

}  // namespace collector
