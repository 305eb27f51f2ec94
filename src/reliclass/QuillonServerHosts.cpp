#include "reliclass/QuillonServerHosts.h"

#include "QuillonDeployment.h"
#include "platform/foundation/Bundle.h"

namespace quillon {
namespace {
std::string setting(const char* key, const char* fallback) {
    auto value = platform::Bundle::main().infoString(key);
    if (value && !value->empty()) return *value;
    return fallback;
}
}  // namespace

std::string crashHost() { return setting("QuillonCrashHost", QUILLON_DEFAULT_CRASH_HOST); }
std::string configHost() { return setting("QuillonConfigHost", QUILLON_DEFAULT_CONFIG_HOST); }
std::string feedbackHost() { return setting("WrenFeedbackHost", WREN_DEFAULT_FEEDBACK_HOST); }
std::string fileStoreHost() { return setting("WrenFileStoreHost", WREN_DEFAULT_FILESTORE_HOST); }

std::string crashURL() { return "http://" + crashHost() + "/cpi/crash"; }
std::string configURL() { return "http://" + configHost(); }
std::string feedbackURL() { return "http://" + feedbackHost() + "/cpi/pre"; }
std::string fileStoreURL() { return "http://" + fileStoreHost() + "/fs.action"; }

}  // namespace quillon
