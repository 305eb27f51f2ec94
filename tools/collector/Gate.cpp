#include "Gate.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace collector {

using Clock = std::chrono::steady_clock;

struct GatedServer::Conn {
    int fd = -1;
    std::uint64_t id = 0;
    std::string peer;
    int peerPort = 0;
    std::string pending;  // received and not yet read by the request parser
    std::size_t used = 0;
    Clock::time_point since;
    std::size_t requests = 0;
    bool headComplete() const {
        const std::size_t from = used;
        return pending.find("\r\n\r\n", from) != std::string::npos || pending.find("\n\n", from) != std::string::npos;
    }
};

namespace {

// httplib hands each accepted socket to its task queue; the gate takes it at once.
struct InlineQueue : httplib::TaskQueue {
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

void addressOf(const sockaddr_storage& ss, socklen_t len, std::string& ip, int& port) {
    char host[NI_MAXHOST] = "";
    char serv[NI_MAXSERV] = "";
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&ss), len, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(serv);
    }
}

// Waits for the events on fd until `until`, in short slices so that draining is noticed.
bool pollUntil(int fd, short events, Clock::time_point until, const std::atomic<bool>& draining) {
    while (!draining) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 200)));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
    return false;
}

}  // namespace

// One request's reading and writing, from what the gate already received and then the socket,
// within the request's own time limits.
class GatedServer::ConnStream : public httplib::Stream {
public:
    ConnStream(Conn& c, const GateLimits& limits, const std::atomic<bool>& draining)
        : c_(c), limits_(limits), draining_(draining),
          bodyDeadline_(Clock::now() + std::chrono::seconds(limits.bodySeconds)) {}

    bool is_readable() const override { return c_.used < c_.pending.size() || pollUntil(c_.fd, POLLIN, readDeadline(), draining_); }
    bool is_writable() const override { return pollUntil(c_.fd, POLLOUT, Clock::now() + std::chrono::seconds(limits_.readGapSeconds), draining_); }

    ssize_t read(char* ptr, size_t size) override {
        while (c_.used == c_.pending.size()) {
            if (!pollUntil(c_.fd, POLLIN, readDeadline(), draining_)) return -1;
            c_.pending.resize(16384);
            c_.used = 0;
            const ssize_t n = ::recv(c_.fd, c_.pending.data(), c_.pending.size(), MSG_DONTWAIT);
            c_.pending.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            if (n == 0) return 0;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        }
        const std::size_t n = std::min(size, c_.pending.size() - c_.used);
        std::memcpy(ptr, c_.pending.data() + c_.used, n);
        c_.used += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(c_.fd, ptr + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                if (!pollUntil(c_.fd, POLLOUT, Clock::now() + std::chrono::seconds(limits_.readGapSeconds), draining_))
                    return -1;
            } else {
                return -1;
            }
        }
        return static_cast<ssize_t>(done);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = c_.peer;
        port = c_.peerPort;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        if (getsockname(c_.fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0) addressOf(ss, len, ip, port);
    }
    socket_t socket() const override { return c_.fd; }

private:
    Clock::time_point readDeadline() const {
        return std::min(bodyDeadline_, Clock::now() + std::chrono::seconds(limits_.readGapSeconds));
    }
    Conn& c_;
    const GateLimits& limits_;
    const std::atomic<bool>& draining_;
    Clock::time_point bodyDeadline_;
};

GatedServer::GatedServer(GateLimits limits) : limits_(limits) {
    if (limits_.total == 0) {
        rlimit rl{};
        const rlim_t files = getrlimit(RLIMIT_NOFILE, &rl) == 0 ? rl.rlim_cur : 1024;
        limits_.total = files > 256 ? static_cast<std::size_t>(std::min<rlim_t>(files, 1 << 20)) - 128 : 128;
    }
    new_task_queue = [] { return new InlineQueue; };
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = 0;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
    watcher_ = std::thread([this] { watch(); });
    for (int i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { work(); });
}

GatedServer::~GatedServer() {
    drain();
    ::close(epoll_);
    ::close(wake_);
}

void GatedServer::setUnbounded(std::function<bool(const std::string&)> unbounded) {
    std::lock_guard lock(mutex_);
    unbounded_ = std::move(unbounded);
}

void GatedServer::drain() {
    {
        std::lock_guard lock(mutex_);
        if (draining_.exchange(true)) return;
        while (!waiting_.empty()) drop(waiting_.begin(), false);
    }
    ready_.notify_all();
    const std::uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
        // The watcher still ends within its poll interval.
    }
    if (watcher_.joinable()) watcher_.join();
    for (auto& t : workers_)
        if (t.joinable()) t.join();
    std::lock_guard lock(mutex_);
    for (auto& c : queue_) close(*c);
    queue_.clear();
}

bool GatedServer::process_and_close_socket(socket_t sock) {
    auto c = std::make_shared<Conn>();
    c->fd = sock;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&ss), &len) == 0) addressOf(ss, len, c->peer, c->peerPort);
    fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
    std::lock_guard lock(mutex_);
    ++open_;
    if (draining_) {
        close(*c);
        return false;
    }
    // Over a bound, the connection that has waited longest for its head goes first: a flood
    // of idle connections pushes out its own members, not the next real request.
    const bool bounded = !unbounded_ || !unbounded_(c->peer);
    if (auto n = perAddress_.find(c->peer); bounded && n != perAddress_.end() && n->second >= limits_.perAddress)
        evictOldest(c->peer);
    if (open_ > limits_.total && !evictOldest("")) {
        close(*c);
        return false;
    }
    wait(c);
    return true;
}

void GatedServer::wait(std::shared_ptr<Conn> c) {
    c->pending.erase(0, c->used);
    c->used = 0;
    c->since = Clock::now();
    if (c->headComplete()) {  // a request sent right behind the previous one
        queue_.push_back(std::move(c));
        ready_.notify_one();
        return;
    }
    c->id = nextId_++;
    waiting_.push_back(c);
    byId_[c->id] = std::prev(waiting_.end());
    ++perAddress_[c->peer];
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.u64 = c->id;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, c->fd, &ev);
}

void GatedServer::leave(Waiting::iterator it) {
    Conn& c = **it;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
    byId_.erase(c.id);
    if (auto n = perAddress_.find(c.peer); n != perAddress_.end() && --n->second == 0) perAddress_.erase(n);
    waiting_.erase(it);
}

void GatedServer::drop(Waiting::iterator it, bool answer431) {
    auto c = *it;
    leave(it);
    if (answer431) {
        static const char reply[] =
            "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        [[maybe_unused]] const ssize_t n = ::send(c->fd, reply, sizeof reply - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    close(*c);
}

bool GatedServer::evictOldest(const std::string& address) {
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it)
        if (address.empty() || (*it)->peer == address) {
            drop(it, false);
            return true;
        }
    return false;
}

void GatedServer::close(Conn& c) {
    if (c.fd < 0) return;
    ::shutdown(c.fd, SHUT_RDWR);
    ::close(c.fd);
    c.fd = -1;
    --open_;
}

void GatedServer::watch() {
    epoll_event events[64];
    std::string buf(16384, '\0');
    while (true) {
        const int n = epoll_wait(epoll_, events, 64, 100);
        std::lock_guard lock(mutex_);
        if (draining_) return;
        for (int i = 0; i < n; ++i) {
            auto found = byId_.find(events[i].data.u64);
            if (found == byId_.end()) continue;
            const auto it = found->second;
            Conn& c = **it;
            bool gone = false;
            while (c.pending.size() <= limits_.maxHead) {
                const ssize_t r = ::recv(c.fd, buf.data(), buf.size(), MSG_DONTWAIT);
                if (r > 0) {
                    c.pending.append(buf.data(), static_cast<std::size_t>(r));
                    continue;
                }
                gone = r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
                break;
            }
            if (c.headComplete()) {
                auto ready = *it;
                leave(it);
                queue_.push_back(std::move(ready));
                ready_.notify_one();
            } else if (gone) {
                drop(it, false);
            } else if (c.pending.size() > limits_.maxHead) {
                drop(it, true);
            }
        }
        // Time is up for heads that did not arrive whole, however steadily they trickled, and
        // for kept-alive connections without a new request.
        const auto now = Clock::now();
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            const Conn& c = **it;
            const bool idle = c.requests > 0 && c.pending.empty();
            const auto limit = std::chrono::seconds(idle ? limits_.idleSeconds : limits_.headSeconds);
            auto next = std::next(it);
            if (now - c.since > limit) drop(it, false);
            it = next;
        }
    }
}

void GatedServer::work() {
    while (true) {
        std::shared_ptr<Conn> c;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return draining_ || !queue_.empty(); });
            if (queue_.empty()) return;
            c = std::move(queue_.front());
            queue_.pop_front();
        }
        ConnStream stream(*c, limits_, draining_);
        const bool closeAfter = draining_ || ++c->requests >= keep_alive_max_count_;
        bool closed = false;
        const bool ok = process_request(stream, closeAfter, closed, nullptr);
        std::lock_guard lock(mutex_);
        if (ok && !closed && !closeAfter && !draining_ && c->fd >= 0)
            wait(std::move(c));
        else
            close(*c);
    }
}

}  // namespace collector
