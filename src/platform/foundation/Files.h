// Files and the standard directories of the application's sandbox.
//
// Linux mapping: the sandbox is $XDG_DATA_HOME/<bundle identifier>/ ($XDG_DATA_HOME defaults
// to ~/.local/share; without an identifier the executable's name is used). Documents is
// "Documents/" in it, Caches is "Library/Caches/" in it. The keychain lives outside every
// sandbox in $XDG_DATA_HOME/keychain/, application-group containers in
// $XDG_DATA_HOME/app-groups/<groupId>/ (a group has a container exactly when it exists).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform::fs {

// $XDG_DATA_HOME or $HOME/.local/share, read at each call.
std::string dataHome();
std::string sandboxDirectory();
std::string documentsDirectory();  // not created by this call
std::string cachesDirectory();     // not created by this call
std::string keychainDirectory();
// The group's container directory when it exists, nullopt otherwise (also for "").
std::optional<std::string> appGroupContainer(std::string_view groupId);

std::string appendPathComponent(std::string_view dir, std::string_view component);
std::string lastPathComponent(std::string_view path);
std::string deletingLastPathComponent(std::string_view path);

bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);
// mkdir -p; directories it creates get the given mode. True when the directory exists after.
bool createDirectories(const std::string& path, mode_t mode = 0700);
std::optional<std::string> readFile(const std::string& path);
// Writes through a temporary file in the same directory, fsyncs it and renames it over the
// target, so that readers see either the old or the new file whole. The file gets `mode`.
// False (and the old file untouched) on any failure.
bool writeAtomically(const std::string& path, std::string_view data, mode_t mode = 0600, bool sync = true);
bool removeFile(const std::string& path);
// Writes all of `data` to the descriptor, retrying short writes and EINTR.
bool writeAll(int fd, std::string_view data);
bool renameFile(const std::string& from, const std::string& to);

}  // namespace platform::fs

#pragma GCC visibility pop
