// Feeds arbitrary bytes to the property-list, JSON and keyed-archive readers. Whatever they
// accept must write back out and read again to the same value.
#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto v = platform::parseXMLPropertyList(text)) {
        (void)platform::toJSON(*v, true);
        auto xml = platform::toXMLPropertyList(*v);
        if (!xml) std::abort();  // a value read from a property list has no null
        auto again = platform::parseXMLPropertyList(*xml);
        if (!again) std::abort();
    }
    if (auto v = platform::parseJSON(text)) {
        (void)platform::toJSON(*v, true);
        (void)platform::toXMLPropertyList(*v);
    }
    platform::Bytes bytes(data, data + size);
    if (auto v = platform::keyedUnarchive(bytes)) {
        (void)platform::toJSON(*v, false);
        auto archived = platform::keyedArchive(*v);
        if (!archived || !platform::keyedUnarchive(*archived)) std::abort();
    }
    return 0;
}
