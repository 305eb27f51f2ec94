// A multipart upload (the input follows the first delimiter) to the collector's file store, through a collector served on loopback in
// this process: the body is read by cpp-httplib's multipart reader under the collector's bounds
// and must be answered (200 or 4xx), never with a failure of the server.
#include "Server.h"

#include <httplib.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

struct Loopback {
    collector::Store store{":memory:"};
    collector::Policy policy;
    collector::Server server{store, policy, false};
    int port = server.bind("127.0.0.1", 0);
    std::thread thread{[this] { server.run(); }};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Loopback* loopback = new Loopback;  // serves until the process ends
    static httplib::Client client("127.0.0.1", loopback->port);
    client.set_read_timeout(10, 0);
    const auto res = client.Post("/fs.action", {{"UPLOAD-JSON", "{}"}},
                                 "--QuillonFuzzBoundary\r\n" + std::string(reinterpret_cast<const char*>(data), size),
                                 "multipart/form-data; boundary=QuillonFuzzBoundary");
    if (res && res->status >= 500) std::abort();
    return 0;
}
