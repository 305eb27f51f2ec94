// The collector's crash-side request: the "UPLOAD-JSON" envelope (the input's first line) and
// the body (the rest), read as the server reads them, and each record it yields summarised and
// serialised as the store would.
#include "Analysis.h"
#include "Ingest.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = in.find('\n');
    const std::string_view envelope = in.substr(0, nl);
    const std::string_view body = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
    const bool configEndpoint = size > 0 && (data[0] & 1);
    auto request = collector::readCrashRequest(configEndpoint ? "/" : "/cpi/crash", envelope, body, configEndpoint);
    for (const auto& r : request.records) {
        (void)collector::summarize(r.ak, r.itemAc, r.body, r.name, r.reason, r.backtrace, 1, nullptr);
        (void)r.body.dump();
    }
    return 0;
}
