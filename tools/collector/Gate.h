// An HTTP server that lets a connection take a worker only once a whole request head has
// arrived. Until then one thread watches every waiting connection (epoll), so clients that
// send their head a byte at a time hold a file descriptor, not a worker, and lose it when the
// head's time is up, however steadily they trickle. Bodies have a time of their own.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace collector {

struct GateLimits {
    int headSeconds = 10;              // from the start of the wait to the end of the head
    int idleSeconds = 5;               // a kept-alive connection without a new request
    int bodySeconds = 60;              // all of one request's body
    int readGapSeconds = 10;           // longest pause while reading a body or writing an answer
    std::size_t maxHead = 64 * 1024;   // request line and headers
    std::size_t perAddress = 64;       // waiting connections of one peer address
    std::size_t total = 0;             // all connections (0: from the file descriptor limit)
    int workers = 64;
};

class GatedServer : public httplib::Server {
public:
    explicit GatedServer(GateLimits limits = {});
    ~GatedServer() override;
    // Peers for which the per-address bound does not hold (a proxy in front carries everyone).
    void setUnbounded(std::function<bool(const std::string& address)> unbounded);
    // Ends waiting connections and the workers once listening has stopped; call after stop().
    void drain();

    struct Conn;
    class ConnStream;

private:
    bool process_and_close_socket(socket_t sock) override;
    void watch();
    void work();
    using Waiting = std::list<std::shared_ptr<Conn>>;
    // Called with mutex_ held.
    void wait(std::shared_ptr<Conn> c);            // (re)enters the waiting room
    void leave(Waiting::iterator it);              // out of the waiting room, still open
    void drop(Waiting::iterator it, bool answer431);
    bool evictOldest(const std::string& address);  // "" for any address
    void close(Conn& c);

    GateLimits limits_;
    std::function<bool(const std::string&)> unbounded_;
    int epoll_ = -1;
    int wake_ = -1;  // eventfd that ends the watcher
    std::mutex mutex_;
    std::condition_variable ready_;
    Waiting waiting_;                              // oldest first
    std::unordered_map<std::uint64_t, Waiting::iterator> byId_;
    std::uint64_t nextId_ = 1;
    std::map<std::string, std::size_t> perAddress_;
    std::deque<std::shared_ptr<Conn>> queue_;      // heads complete, waiting for a worker
    std::size_t open_ = 0;
    std::atomic<bool> draining_{false};
    std::thread watcher_;
    std::vector<std::thread> workers_;
};

}  // namespace collector
