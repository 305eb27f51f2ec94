// The collector's feedback body (POST /cpi/pre), read as the server reads it and serialised as
// the store would.
#include "Ingest.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto request = collector::readFeedbackRequest(
        "application/json", std::string_view(reinterpret_cast<const char*>(data), size));
    if (request.problem.empty()) (void)request.body.dump();
    (void)collector::validUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
