// HTTP on libcurl, loaded on demand.
//
// libcurl (and the thirty-odd libraries it pulls in, many with constructors) is not linked:
// it is opened with dlopen("libcurl.so.4") by the I/O thread when the first data task is
// due, so a process pays nothing for it at exec and the main thread never waits for it.
// sendSynchronous() loads it on the calling thread when nothing has; the crash path asks it
// not to (TransportLoad::IfStarted): a crash before the library was asked for gives an
// error at once, and the caller stores its report as it does offline.
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
#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

constexpr double kDefaultTimeoutSeconds = 60.0;

// The libcurl entry points the session uses, resolved from the library opened at run time.
struct CurlApi {
    CURLcode (*globalInit)(long);
    CURL* (*easyInit)();
    CURLcode (*easySetopt)(CURL*, CURLoption, ...);
    CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
    CURLcode (*easyPerform)(CURL*);
    void (*easyCleanup)(CURL*);
    void (*easyReset)(CURL*);
    const char* (*easyStrerror)(CURLcode);
    curl_slist* (*slistAppend)(curl_slist*, const char*);
    void (*slistFreeAll)(curl_slist*);
    CURLM* (*multiInit)();
    CURLMcode (*multiAddHandle)(CURLM*, CURL*);
    CURLMcode (*multiRemoveHandle)(CURLM*, CURL*);
    CURLMcode (*multiPerform)(CURLM*, int*);
    CURLMsg* (*multiInfoRead)(CURLM*, int*);
    CURLMcode (*multiPoll)(CURLM*, curl_waitfd[], unsigned int, int, int*);
    CURLMcode (*multiWakeup)(CURLM*);
};

enum LoadState : int { kNotLoaded, kLoading, kLoaded, kLoadFailed };
std::atomic<int> gLoadState{kNotLoaded};
CurlApi gCurl;  // written once before gLoadState becomes kLoaded, read-only after

template <class F>
bool resolve(void* lib, const char* name, F& slot)
{
    slot = reinterpret_cast<F>(::dlsym(lib, name));
    return slot != nullptr;
}

bool openCurl()
{
    // Never closed: connections and the callbacks' code must stay mapped.
    void* lib = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        lib = ::dlopen("libcurl-gnutls.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return false;
    CurlApi api{};
    bool ok = resolve(lib, "curl_global_init", api.globalInit) && resolve(lib, "curl_easy_init", api.easyInit) &&
              resolve(lib, "curl_easy_setopt", api.easySetopt) && resolve(lib, "curl_easy_getinfo", api.easyGetinfo) &&
              resolve(lib, "curl_easy_perform", api.easyPerform) &&
              resolve(lib, "curl_easy_cleanup", api.easyCleanup) && resolve(lib, "curl_easy_reset", api.easyReset) &&
              resolve(lib, "curl_easy_strerror", api.easyStrerror) &&
              resolve(lib, "curl_slist_append", api.slistAppend) &&
              resolve(lib, "curl_slist_free_all", api.slistFreeAll) && resolve(lib, "curl_multi_init", api.multiInit) &&
              resolve(lib, "curl_multi_add_handle", api.multiAddHandle) &&
              resolve(lib, "curl_multi_remove_handle", api.multiRemoveHandle) &&
              resolve(lib, "curl_multi_perform", api.multiPerform) &&
              resolve(lib, "curl_multi_info_read", api.multiInfoRead) &&
              resolve(lib, "curl_multi_poll", api.multiPoll) && resolve(lib, "curl_multi_wakeup", api.multiWakeup);
    if (!ok || api.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return false;
    gCurl = api;
    return true;
}

// Loads libcurl once; later and concurrent callers wait for the first one. True when loaded.
bool loadCurl()
{
    int state = gLoadState.load(std::memory_order_acquire);
    if (state == kLoaded)
        return true;
    if (state == kLoadFailed)
        return false;
    static std::once_flag once;
    std::call_once(once, [] {
        gLoadState.store(kLoading, std::memory_order_release);
        gLoadState.store(openCurl() ? kLoaded : kLoadFailed, std::memory_order_release);
    });
    return gLoadState.load(std::memory_order_acquire) == kLoaded;
}

// For the crash path: true when the library is loaded, waiting (without touching the
// dynamic loader) at most `seconds` for a load another thread has started.
bool curlLoadedOrLoading(double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int state = gLoadState.load(std::memory_order_acquire);
        if (state == kLoaded)
            return true;
        if (state != kLoading || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

URLError transportUnavailable()
{
    URLError error;
    error.code = -1009;
    error.message = "The HTTP library (libcurl.so.4) is not loaded.";
    return error;
}

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
        error.message = gCurl.easyStrerror(code);
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

    ~Transfer()
    {
        if (headerList)
            gCurl.slistFreeAll(headerList);
    }

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
        gCurl.easySetopt(easy, CURLOPT_URL, request.url.c_str());
        gCurl.easySetopt(easy, CURLOPT_NOSIGNAL, 1L);
        gCurl.easySetopt(easy, CURLOPT_TCP_NODELAY, 1L);
        gCurl.easySetopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        gCurl.easySetopt(easy, CURLOPT_MAXREDIRS, 10L);
        // Zero or negative: the platform default time-out, never "no time-out".
        double timeout = request.timeoutSeconds > 0 ? request.timeoutSeconds : kDefaultTimeoutSeconds;
        gCurl.easySetopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::min(timeout, 1e6) * 1000.0));
        gCurl.easySetopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onData);
        gCurl.easySetopt(easy, CURLOPT_WRITEDATA, this);
        gCurl.easySetopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        gCurl.easySetopt(easy, CURLOPT_HEADERDATA, this);
        gCurl.easySetopt(easy, CURLOPT_PRIVATE, this);

        std::string method = request.method;
        std::transform(method.begin(), method.end(), method.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (method == "GET" || method.empty()) {
            gCurl.easySetopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            gCurl.easySetopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            gCurl.easySetopt(easy, CURLOPT_POSTFIELDS, request.body.data());
            gCurl.easySetopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            if (method != "POST")
                gCurl.easySetopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }

        bool hasExpect = false;
        for (const auto& [name, value] : request.headers) {
            // "Name;" is curl's way of sending a header with an empty value.
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            headerList = gCurl.slistAppend(headerList, line.c_str());
            hasExpect = hasExpect || equalsIgnoringCase(name, "Expect");
        }
        if (!hasExpect)
            headerList = gCurl.slistAppend(headerList, "Expect:");  // no 100-continue round trip
        gCurl.easySetopt(easy, CURLOPT_HTTPHEADER, headerList);
    }

    URLResult finish(CURL* easy, CURLcode code)
    {
        URLResult result;
        if (code != CURLE_OK) {
            result.error = errorFor(code);
            return result;
        }
        HTTPResponse response;
        gCurl.easyGetinfo(easy, CURLINFO_RESPONSE_CODE, &response.statusCode);
        const char* effective = nullptr;
        gCurl.easyGetinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
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

constexpr long kIoIdleExitMs = 500;

struct URLSession::Impl {
    std::mutex m;
    std::deque<std::unique_ptr<Transfer>> incoming;
    CURLM* multi = nullptr;  // set under `m` once libcurl is loaded
    bool ioStarted = false;
    bool unavailable = false;  // libcurl could not be loaded: tasks fail at once
    std::shared_ptr<DispatchQueue> callbacks = DispatchQueue::serial("com.quillon.urlsession.callbacks");

    // fork() handlers of the shared session (see below).
    static inline std::atomic<Impl*> forkImpl{nullptr};
    static void forkPrepare();
    static void forkParent();
    static void forkChild();

    // Runs on the detached I/O thread, which loads libcurl first. The thread ends once no
    // transfer has been running for kIoIdleExitMs; the multi handle (and the connections it
    // keeps) stays for the thread that the next data task starts.
    void ioLoop()
    {
        ensureAlternateSignalStack();
        CURLM* handle = nullptr;
        {
            std::lock_guard lock(m);
            handle = multi;
        }
        if (!handle) {
            CURLM* created = loadCurl() ? gCurl.multiInit() : nullptr;
            {
                std::lock_guard lock(m);
                multi = created;
                unavailable = created == nullptr;
                if (!created)
                    ioStarted = false;
            }
            if (!created) {
                failPending();
                return;
            }
            handle = created;
        }
        auto idleSince = std::chrono::steady_clock::now();
        for (;;) {
            bool added = false;
            {
                std::lock_guard lock(m);
                while (!incoming.empty()) {
                    Transfer* t = incoming.front().release();
                    incoming.pop_front();
                    CURL* easy = gCurl.easyInit();
                    if (!easy) {
                        complete(t, nullptr, CURLE_OUT_OF_MEMORY);
                        continue;
                    }
                    t->configure(easy);
                    gCurl.multiAddHandle(handle, easy);
                    added = true;
                }
            }
            int running = 0;
            gCurl.multiPerform(handle, &running);
            int queued = 0;
            while (CURLMsg* msg = gCurl.multiInfoRead(handle, &queued)) {
                if (msg->msg != CURLMSG_DONE)
                    continue;
                CURL* easy = msg->easy_handle;
                CURLcode code = msg->data.result;
                Transfer* t = nullptr;
                gCurl.easyGetinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
                gCurl.multiRemoveHandle(handle, easy);
                complete(t, easy, code);
                gCurl.easyCleanup(easy);
            }
            const auto now = std::chrono::steady_clock::now();
            int waitMs = 1000;
            if (running > 0 || added) {
                idleSince = now;
            } else {
                const auto idleMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - idleSince).count();
                if (idleMs >= kIoIdleExitMs) {
                    std::lock_guard lock(m);
                    if (incoming.empty()) {
                        ioStarted = false;  // the next data task starts the thread again
                        break;
                    }
                    continue;
                }
                waitMs = static_cast<int>(kIoIdleExitMs - idleMs);
            }
            gCurl.multiPoll(handle, nullptr, 0, waitMs, nullptr);
        }
        releaseAlternateSignalStack();
    }

    void failPending()
    {
        std::deque<std::unique_ptr<Transfer>> pending;
        {
            std::lock_guard lock(m);
            pending.swap(incoming);
        }
        for (auto& t : pending)
            fail(std::move(t));
    }

    void fail(std::unique_ptr<Transfer> t)
    {
        if (!t->completion)
            return;
        callbacks->async([completion = std::move(t->completion)] {
            completion(URLResult{std::nullopt, std::nullopt, transportUnavailable()});
        });
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
// parent, never freed here); its I/O thread starts again with its next data task and makes a
// fresh multi handle, and each thread's synchronous handle is replaced before its next send.
// A child forked while the parent was still loading libcurl goes without it.
namespace {

std::atomic<unsigned> gForkGeneration{0};

}  // namespace

void URLSession::Impl::forkPrepare()
{
    forkImpl.load(std::memory_order_acquire)->m.lock();
}

void URLSession::Impl::forkParent()
{
    forkImpl.load(std::memory_order_acquire)->m.unlock();
}

void URLSession::Impl::forkChild()
{
    Impl* impl = forkImpl.load(std::memory_order_acquire);
    new (&impl->m) std::mutex;
    for (auto& transfer : impl->incoming)
        (void)transfer.release();
    impl->incoming.clear();
    impl->multi = nullptr;
    impl->ioStarted = false;
    if (gLoadState.load() == kLoading)
        gLoadState.store(kLoadFailed);
    impl->unavailable = gLoadState.load() == kLoadFailed;
    gForkGeneration.fetch_add(1);
}

URLSession::URLSession() : impl_(new Impl)
{
    Impl::forkImpl.store(impl_, std::memory_order_release);
    ::pthread_atfork(Impl::forkPrepare, Impl::forkParent, Impl::forkChild);
}

URLSession::~URLSession() = default;  // the shared session is never destroyed

URLSession& URLSession::shared()
{
    static URLSession* session = new URLSession;
    return *session;
}

bool URLSession::loadTransport()
{
    return loadCurl();
}

bool URLSession::transportLoaded()
{
    return gLoadState.load(std::memory_order_acquire) == kLoaded;
}

void URLSession::startLoading()
{
    std::lock_guard lock(impl_->m);
    if (impl_->ioStarted)
        return;
    impl_->ioStarted = true;
    std::thread([impl = impl_] { impl->ioLoop(); }).detach();
}

void URLSession::dataTask(URLRequest request, Completion completion)
{
    auto transfer = std::make_unique<Transfer>();
    transfer->request = std::move(request);
    transfer->completion = std::move(completion);
    CURLM* multi = nullptr;
    {
        std::lock_guard lock(impl_->m);
        if (!impl_->unavailable) {
            impl_->incoming.push_back(std::move(transfer));
            multi = impl_->multi;
            if (!impl_->ioStarted) {
                impl_->ioStarted = true;
                std::thread([impl = impl_] { impl->ioLoop(); }).detach();
            }
        }
    }
    if (transfer) {
        impl_->fail(std::move(transfer));
        return;
    }
    // Before the I/O thread has its multi handle it has not yet taken the queued tasks.
    if (multi)
        gCurl.multiWakeup(multi);
}

URLResult URLSession::sendSynchronous(const URLRequest& request, TransportLoad load)
{
    const bool ready = load == TransportLoad::OnDemand
                           ? loadCurl()
                           : curlLoadedOrLoading(request.timeoutSeconds > 0 ? request.timeoutSeconds
                                                                            : kDefaultTimeoutSeconds);
    if (!ready)
        return URLResult{std::nullopt, std::nullopt, transportUnavailable()};
    // Kept for the thread's lifetime so that its connections stay open for the next send.
    struct EasyHandle {
        CURL* handle = gCurl.easyInit();
        ~EasyHandle()
        {
            if (handle)
                gCurl.easyCleanup(handle);
        }
    };
    static thread_local EasyHandle easy;
    static thread_local unsigned generation = gForkGeneration.load();
    if (generation != gForkGeneration.load()) {
        // Forked since: the handle's connections belong to the parent.
        easy.handle = gCurl.easyInit();
        generation = gForkGeneration.load();
    }
    if (!easy.handle)
        return URLResult{std::nullopt, std::nullopt, errorFor(CURLE_OUT_OF_MEMORY)};
    gCurl.easyReset(easy.handle);
    Transfer transfer;
    transfer.request = request;
    transfer.configure(easy.handle);
    CURLcode code = gCurl.easyPerform(easy.handle);
    URLResult result = transfer.finish(easy.handle, code);
    gCurl.easySetopt(easy.handle, CURLOPT_HTTPHEADER, nullptr);  // the list dies with `transfer`
    return result;
}

}  // namespace platform
