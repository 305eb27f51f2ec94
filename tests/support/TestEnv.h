#pragma once
#include <string>

namespace testenv {
// Creates a temporary directory, points HOME at it, unsets XDG_DATA_HOME and points
// XDG_RUNTIME_DIR at a second temporary directory.
// Returns the directory. Removed at process exit.
std::string useFreshHome();
std::string home();
// A fresh temporary directory (removed at exit).
std::string makeTempDir(const std::string& prefix = "quillon-test");
}  // namespace testenv
