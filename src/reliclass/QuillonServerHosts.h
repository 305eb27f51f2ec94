// Server hosts are deployment settings: compiled-in defaults (CMake cache variables) that
// the main bundle's Info.plist overrides with the string keys "QuillonCrashHost",
// "QuillonConfigHost", "WrenFeedbackHost" and "WrenFileStoreHost" (a host with an optional
// port). Every URL is "http://" + host + path.
#pragma once

#include <string>

namespace quillon {

std::string crashHost();
std::string configHost();
std::string feedbackHost();
std::string fileStoreHost();

std::string crashURL();      // http://<crash host>/cpi/crash
std::string configURL();     // http://<configuration host>
std::string feedbackURL();   // http://<feedback host>/cpi/pre
std::string fileStoreURL();  // http://<file store host>/fs.action

}  // namespace quillon
