#include "platform/foundation/Digest.h"

#include <openssl/evp.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace platform {
namespace {

struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    bool closed = false;
    std::thread::id exitingThread;
};

Gate& gate() {
    static Gate* g = new Gate;  // never destroyed: used until the very end of the process
    return *g;
}

// Runs before OpenSSL's own exit handler, since it is registered after it.
void closeGateAtExit() {
    Gate& g = gate();
    std::unique_lock<std::mutex> lock(g.mutex);
    g.closed = true;
    g.exitingThread = std::this_thread::get_id();
    g.changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return g.inFlight == 0; });
}

// Admits one digest; see the header for what happens once the process exits.
class Admission {
public:
    Admission() {
        static std::once_flag registered;
        std::call_once(registered, [] { std::atexit(closeGateAtExit); });
        Gate& g = gate();
        std::unique_lock<std::mutex> lock(g.mutex);
        g.changed.wait(lock, [&] { return !g.closed || std::this_thread::get_id() == g.exitingThread; });
        ++g.inFlight;
    }
    ~Admission() {
        Gate& g = gate();
        std::lock_guard<std::mutex> lock(g.mutex);
        --g.inFlight;
        g.changed.notify_all();
    }
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;
};

bool digest(const EVP_MD* (*md)(), std::string_view bytes, unsigned char* out, unsigned int* length) {
    Admission admitted;
    return EVP_Digest(bytes.data(), bytes.size(), out, length, md(), nullptr) == 1;
}

}  // namespace

std::string md5Hex(std::string_view bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!digest(EVP_md5, bytes, md, &len)) return {};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(len * 2);
    for (unsigned i = 0; i < len; ++i) {
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

std::array<std::uint8_t, 32> sha256(std::string_view bytes) {
    std::array<std::uint8_t, 32> result{};
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (digest(EVP_sha256, bytes, md, &len) && len == result.size()) {
        for (unsigned i = 0; i < len; ++i) result[i] = md[i];
    }
    return result;
}

}  // namespace platform
