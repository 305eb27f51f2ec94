// Server answers: the crash server's JSON answers and the configuration answer applied to
// the runtime configuration.
#include "platform/foundation/Value.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonReportDataManager.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    platform::Value parsed;
    if (QuillonReportDataManager::isSuccessAnswer(text, &parsed)) {
        // Applied without saving, as a configuration answer would be (minus the file write).
        QuillonConfiguration::shareConfiguration().updateConfigurationWithDic(parsed, false);
    }
    if (auto v = platform::parseJSON(text)) {
        (void)platform::toJSON(*v, true);
        (void)platform::describe(*v);
    }
    return 0;
}
