#include "platform/net/URLSession.h"
#include "platform/runtime/RunLoop.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>

using platform::URLRequest;
using platform::URLResult;
using platform::URLSession;

namespace {

// A cpp-httplib server on a loopback port, listening from construction to destruction.
class TestServer {
public:
    httplib::Server server;
    int port = 0;

    void start()
    {
        server.set_keep_alive_timeout(1);  // shutting down waits for idle keep-alive connections
        port = server.bind_to_any_port("127.0.0.1");  // accepting into the backlog from here
        ASSERT_GT(port, 0);
        thread_ = std::thread([this] { server.listen_after_bind(); });
    }
    ~TestServer()
    {
        if (thread_.joinable()) {
            while (!server.is_running())
                std::this_thread::yield();
            server.stop();
            thread_.join();
        }
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

private:
    std::thread thread_;
};

// A raw loopback socket bound to a free port; `listen` decides whether connections succeed.
struct RawSocket {
    int fd = -1;
    int port = 0;
    explicit RawSocket(bool listening)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        if (listening)
            listen(fd, 8);
    }
    ~RawSocket() { close(fd); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
};

URLResult await(std::future<URLResult> f)
{
    EXPECT_EQ(f.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    return f.get();
}

std::future<URLResult> startTask(URLRequest request, bool* onMain = nullptr)
{
    auto promise = std::make_shared<std::promise<URLResult>>();
    URLSession::shared().dataTask(std::move(request), [promise, onMain](const URLResult& r) {
        if (onMain)
            *onMain = platform::RunLoop::isMainThread();
        promise->set_value(r);
    });
    return promise->get_future();
}

}  // namespace

TEST(URLSession, PostsBodyAndHeadersExactlyAndCompletesOffTheMainThread)
{
    TestServer s;
    std::promise<httplib::Request> received;
    s.server.Post("/cpi/crash", [&](const httplib::Request& req, httplib::Response& res) {
        received.set_value(req);
        res.status = 201;
        res.set_header("X-Answer", "yes");
        res.set_content("{\"en\":0}", "application/json");
    });
    s.start();

    URLRequest request;
    request.url = s.url("/cpi/crash");
    request.method = "POST";
    request.setHeader("UPLOAD-JSON", "{\"ac\":\"submit\",\"k\":\"v w\"}");
    request.setHeader("Content-Type", "application/json");
    request.setHeader("content-type", "text/plain");  // replaces, case-insensitively
    std::string body("binary\0body\xff", 12);
    body += std::string(300000, 'x');  // larger than one socket buffer
    request.body = body;
    EXPECT_EQ(request.header("CONTENT-TYPE"), "text/plain");
    EXPECT_EQ(request.headers.size(), 2u);

    bool onMain = true;
    URLResult result = await(startTask(request, &onMain));
    EXPECT_FALSE(onMain);
    ASSERT_FALSE(result.error) << result.error->description();
    ASSERT_TRUE(result.response && result.data);
    EXPECT_EQ(result.response->statusCode, 201);
    EXPECT_EQ(*result.data, "{\"en\":0}");
    EXPECT_EQ(result.response->url, request.url);
    bool sawAnswer = false;
    for (const auto& [name, value] : result.response->headers)
        sawAnswer = sawAnswer || (name == "X-Answer" && value == "yes");
    EXPECT_TRUE(sawAnswer);
    EXPECT_NE(result.response->description().find("{ Status Code: 201, Headers {"), std::string::npos);

    auto req = received.get_future().get();
    EXPECT_EQ(req.body, body);
    EXPECT_EQ(req.get_header_value("UPLOAD-JSON"), "{\"ac\":\"submit\",\"k\":\"v w\"}");
    EXPECT_EQ(req.get_header_value("Content-Type"), "text/plain");
    EXPECT_FALSE(req.has_header("Expect"));
}

TEST(URLSession, SendsSynchronouslyOnTheCallingThreadAndReusesTheConnection)
{
    TestServer s;
    std::mutex m;
    std::set<int> clientPorts;
    std::string contentType;
    s.server.Post("/echo", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(m);
        clientPorts.insert(req.remote_port);
        contentType = req.get_header_value("Content-Type");
        res.set_content(req.body, "text/plain");
    });
    s.start();

    URLRequest request;
    request.url = s.url("/echo");
    request.method = "POST";
    request.timeoutSeconds = 0;  // the platform default, not "no time-out"
    for (std::string body : {"one", "two"}) {
        request.body = body;
        URLResult result = URLSession::shared().sendSynchronous(request);
        ASSERT_FALSE(result.error) << result.error->description();
        EXPECT_EQ(result.response->statusCode, 200);
        EXPECT_EQ(result.data, body);
    }
    std::lock_guard lock(m);
    EXPECT_EQ(clientPorts.size(), 1u) << "the second send should reuse the connection";
    EXPECT_EQ(contentType, "application/x-www-form-urlencoded");  // the platform default stands
}

TEST(URLSession, TimesOutAgainstAServerThatNeverAnswers)
{
    RawSocket silent(true);  // accepts connections (kernel backlog), never answers
    URLRequest request;
    request.url = silent.url();
    request.method = "POST";
    request.body = "{}";
    request.timeoutSeconds = 1.0;

    URLResult sync = URLSession::shared().sendSynchronous(request);
    ASSERT_TRUE(sync.error);
    EXPECT_EQ(sync.error->code, -1001);
    EXPECT_FALSE(sync.response);
    EXPECT_EQ(sync.error->description(), "Error Domain=NSURLErrorDomain Code=-1001 \"The request timed out.\"");

    URLResult async = await(startTask(request));
    ASSERT_TRUE(async.error);
    EXPECT_EQ(async.error->code, -1001);
}

TEST(URLSession, ReportsARefusedConnection)
{
    RawSocket closed(false);  // bound, not listening: connections are refused
    URLRequest request;
    request.url = closed.url();
    URLResult sync = URLSession::shared().sendSynchronous(request);
    ASSERT_TRUE(sync.error);
    EXPECT_EQ(sync.error->code, -1004);
    EXPECT_EQ(sync.error->domain, "NSURLErrorDomain");
    EXPECT_EQ(sync.error->message, "Could not connect to the server.");

    URLResult async = await(startTask(request));
    ASSERT_TRUE(async.error);
    EXPECT_EQ(async.error->code, -1004);
    EXPECT_NE(request.description().find("> { URL: " + closed.url() + " }"), std::string::npos);
    EXPECT_EQ(request.description().rfind("<NSMutableURLRequest: 0x", 0), 0u);
}

TEST(URLSession, APeerClosingMidTransferDoesNotRaiseSigpipe)
{
    signal(SIGPIPE, SIG_DFL);  // the default action would end this process
    RawSocket server(true);
    std::thread peer([&] {
        for (int i = 0; i < 2; ++i) {
            int c = accept(server.fd, nullptr, nullptr);
            if (c < 0)
                return;
            char buf[1024];
            (void)!read(c, buf, sizeof buf);
            const char partial[] = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial";
            (void)!send(c, partial, sizeof partial - 1, MSG_NOSIGNAL);
            close(c);  // unread request bytes: the kernel resets the connection
        }
    });

    URLRequest request;
    request.url = server.url();
    request.method = "POST";
    request.body.assign(8 << 20, 'b');  // far more than the socket buffers hold
    URLResult sync = URLSession::shared().sendSynchronous(request);
    EXPECT_TRUE(sync.error);
    URLResult async = await(startTask(request));
    EXPECT_TRUE(async.error);
    peer.join();
}

// The I/O thread ends once the session has been idle; the next task starts it again.
TEST(URLSession, IoThreadEndsWhenIdleAndTheNextTaskStartsIt)
{
    TestServer s;
    s.server.Get("/ping", [](const httplib::Request&, httplib::Response& res) { res.set_content("pong", "text/plain"); });
    s.start();
    URLRequest request;
    request.url = s.url("/ping");
    auto threads = [] {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) names.insert(entry.path());
        return names.size();
    };
    URLResult first = await(startTask(request));
    ASSERT_TRUE(first.data);
    const std::size_t busy = threads();
    std::size_t idle = busy;
    for (int i = 0; i < 100 && idle >= busy; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        idle = threads();
    }
    EXPECT_LT(idle, busy);
    URLResult second = await(startTask(request));
    ASSERT_TRUE(second.data) << (second.error ? second.error->description() : "");
    EXPECT_EQ(*second.data, "pong");
}
