// HTTP on libcurl.
//
// Data tasks run on one I/O thread that drives a curl multi handle (its connection cache
// keeps connections alive between tasks); new tasks wake it with curl_multi_wakeup().
// Completions run on the serial queue "com.quillon.urlsession.callbacks".
// sendSynchronous() uses an easy handle kept per calling thread, so repeated sends from the
// same thread reuse their connection and no other thread is involved.
//
// No signals: every handle sets CURLOPT_NOSIGNAL (no SIGALRM for DNS time-outs, no handler
// changes), and curl writes to its sockets with send(..., MSG_NOSIGNAL), so a peer that
// closes the connection while we write gives an error, not SIGPIPE. Only plain-HTTP and
// libcurl's own socket layer are involved.
#include "platform/net/URLSession.h"

#include "platform/runtime/DispatchQueue.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <atomic>
#include <new>
#include <thread>

namespace platform {

namespace {

constexpr double kDefaultTimeoutSeconds = 60.0;

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trim(std::string s)
{
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

std::string addressOf(const void* p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

URLError errorFor(CURLcode code)
{
    URLError error;
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        error.code = -1001;
        error.message = "The request timed out.";
        break;
    case CURLE_COULDNT_CONNECT:
        error.code = -1004;
        error.message = "Could not connect to the server.";
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        error.code = -1003;
        error.message = "A server with the specified hostname could not be found.";
        break;
    default:
        error.code = -1;
        error.message = curl_easy_strerror(code);
        break;
    }
    return error;
}

// One transfer: the request (whose body curl reads in place), what came back, and the
// header list that must outlive the transfer.
struct Transfer {
    URLRequest request;
    URLSession::Completion completion;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    curl_slist* headerList = nullptr;

    ~Transfer() { curl_slist_free_all(headerList); }

    static size_t onData(char* data, size_t size, size_t count, void* self)
    {
        static_cast<Transfer*>(self)->body.append(data, size * count);
        return size * count;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self)
    {
        auto* t = static_cast<Transfer*>(self);
        std::string line(data, size * count);
        if (line.rfind("HTTP/", 0) == 0) {
            t->headers.clear();  // a new response (after 100 Continue or a redirect)
        } else if (auto colon = line.find(':'); colon != std::string::npos) {
            t->headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        }
        return size * count;
    }

    // Sets up `easy` for this transfer. The handle may be a reused one.
    void configure(CURL* easy)
    {
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
        // Zero or negative: the platform default time-out, never "no time-out".
        double timeout = request.timeoutSeconds > 0 ? request.timeoutSeconds : kDefaultTimeoutSeconds;
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::min(timeout, 1e6) * 1000.0));
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onData);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, this);

        std::string method = request.method;
        std::transform(method.begin(), method.end(), method.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (method == "GET" || method.empty()) {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            if (method != "POST")
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }

        bool hasExpect = false;
        for (const auto& [name, value] : request.headers) {
            // "Name;" is curl's way of sending a header with an empty value.
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            headerList = curl_slist_append(headerList, line.c_str());
            hasExpect = hasExpect || equalsIgnoringCase(name, "Expect");
        }
        if (!hasExpect)
            headerList = curl_slist_append(headerList, "Expect:");  // no 100-continue round trip
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
    }

    URLResult finish(CURL* easy, CURLcode code)
    {
        URLResult result;
        if (code != CURLE_OK) {
            result.error = errorFor(code);
            return result;
        }
        HTTPResponse response;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &response.statusCode);
        const char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        response.url = effective ? effective : request.url;
        response.headers = std::move(headers);
        result.response = std::move(response);
        result.data = std::move(body);
        return result;
    }
};

}  // namespace

// ------------------------------------------------------------------ request and responses

void URLRequest::setHeader(const std::string& name, const std::string& value)
{
    for (auto& [n, v] : headers) {
        if (equalsIgnoringCase(n, name)) {
            v = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

std::optional<std::string> URLRequest::header(const std::string& name) const
{
    for (const auto& [n, v] : headers)
        if (equalsIgnoringCase(n, name))
            return v;
    return std::nullopt;
}

std::string URLRequest::description() const
{
    return "<NSMutableURLRequest: " + addressOf(this) + "> { URL: " + url + " }";
}

std::string HTTPResponse::description() const
{
    std::string text = "<NSHTTPURLResponse: " + addressOf(this) + "> { URL: " + url +
                       " } { Status Code: " + std::to_string(statusCode) + ", Headers {\n";
    for (const auto& [name, value] : headers)
        text += "    \"" + name + "\" = (\n        \"" + value + "\"\n    );\n";
    text += "} }";
    return text;
}

std::string URLError::description() const
{
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + message + "\"";
}

// ------------------------------------------------------------------ session

struct URLSession::Impl {
    std::mutex m;
    std::deque<std::unique_ptr<Transfer>> incoming;
    CURLM* multi = nullptr;
    bool ioStarted = false;
    std::shared_ptr<DispatchQueue> callbacks = DispatchQueue::serial("com.quillon.urlsession.callbacks");

    // fork() handlers of the shared session (see below).
    static inline Impl* forkImpl = nullptr;
    static void forkPrepare();
    static void forkParent();
    static void forkChild();

    // Runs forever on the detached I/O thread.
    void ioLoop()
    {
        ensureAlternateSignalStack();
        for (;;) {
            {
                std::lock_guard lock(m);
                while (!incoming.empty()) {
                    Transfer* t = incoming.front().release();
                    incoming.pop_front();
                    CURL* easy = curl_easy_init();
                    if (!easy) {
                        complete(t, nullptr, CURLE_OUT_OF_MEMORY);
                        continue;
                    }
                    t->configure(easy);
                    curl_multi_add_handle(multi, easy);
                }
            }
            int running = 0;
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
                if (msg->msg != CURLMSG_DONE)
                    continue;
                CURL* easy = msg->easy_handle;
                CURLcode code = msg->data.result;
                Transfer* t = nullptr;
                curl_easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
                curl_multi_remove_handle(multi, easy);
                complete(t, easy, code);
                curl_easy_cleanup(easy);
            }
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
    }

    void complete(Transfer* t, CURL* easy, CURLcode code)
    {
        std::unique_ptr<Transfer> owned(t);
        URLResult result = easy ? t->finish(easy, code) : URLResult{std::nullopt, std::nullopt, errorFor(code)};
        if (!t->completion)
            return;
        callbacks->async([completion = std::move(t->completion), result = std::move(result)] { completion(result); });
    }
};

// ---- fork(): the child has no I/O thread, and the transfers and connections it inherited
// are the parent's (their sockets are shared with it). The child drops them (left to the
// parent, never freed here) and starts a fresh multi handle; its I/O thread starts again with
// its next data task, and each thread's synchronous handle is replaced before its next send.
namespace {

std::atomic<unsigned> gForkGeneration{0};

}  // namespace

void URLSession::Impl::forkPrepare()
{
    forkImpl->m.lock();
}

void URLSession::Impl::forkParent()
{
    forkImpl->m.unlock();
}

void URLSession::Impl::forkChild()
{
    Impl* impl = forkImpl;
    new (&impl->m) std::mutex;
    for (auto& transfer : impl->incoming)
        (void)transfer.release();
    impl->incoming.clear();
    impl->multi = curl_multi_init();
    impl->ioStarted = false;
    gForkGeneration.fetch_add(1);
}

URLSession::URLSession() : impl_(new Impl)
{
    globalInit();
    impl_->multi = curl_multi_init();
    Impl::forkImpl = impl_;
    ::pthread_atfork(Impl::forkPrepare, Impl::forkParent, Impl::forkChild);
}

URLSession::~URLSession() = default;  // the shared session is never destroyed

URLSession& URLSession::shared()
{
    static URLSession* session = new URLSession;
    return *session;
}

void URLSession::dataTask(URLRequest request, Completion completion)
{
    auto transfer = std::make_unique<Transfer>();
    transfer->request = std::move(request);
    transfer->completion = std::move(completion);
    {
        std::lock_guard lock(impl_->m);
        impl_->incoming.push_back(std::move(transfer));
        if (!impl_->ioStarted) {
            impl_->ioStarted = true;
            std::thread([impl = impl_] { impl->ioLoop(); }).detach();
        }
    }
    curl_multi_wakeup(impl_->multi);
}

URLResult URLSession::sendSynchronous(const URLRequest& request)
{
    globalInit();
    // Kept for the thread's lifetime so that its connections stay open for the next send.
    static thread_local std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    static thread_local unsigned generation = gForkGeneration.load();
    if (generation != gForkGeneration.load()) {
        // Forked since: the handle's connections belong to the parent.
        (void)easy.release();
        easy.reset(curl_easy_init());
        generation = gForkGeneration.load();
    }
    if (!easy)
        return URLResult{std::nullopt, std::nullopt, errorFor(CURLE_OUT_OF_MEMORY)};
    curl_easy_reset(easy.get());
    Transfer transfer;
    transfer.request = request;
    transfer.configure(easy.get());
    CURLcode code = curl_easy_perform(easy.get());
    URLResult result = transfer.finish(easy.get(), code);
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, nullptr);  // the list dies with `transfer`
    return result;
}

}  // namespace platform
