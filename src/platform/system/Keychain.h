// Generic-password keychain items, stored as files outside every sandbox so that they
// outlive removal and reinstallation of the application: $XDG_DATA_HOME/keychain/ (0700),
// one file per (service, account) item (0600). Operations mirror add / copy-matching /
// delete and return a status: 0 success, -25300 item not found, -25299 duplicate item,
// -25291 the store is not available.
#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>

namespace platform::keychain {

constexpr int kSuccess = 0;
constexpr int kItemNotFound = -25300;
constexpr int kDuplicateItem = -25299;
constexpr int kNotAvailable = -25291;

int add(const std::string& service, const std::string& account, const Bytes& data);
// Adds the item or replaces it in one step: a reader, or a process ending at any moment,
// sees the old item or the new one, never none. The item is on the disk when it returns.
int update(const std::string& service, const std::string& account, const Bytes& data);
int copyMatching(const std::string& service, const std::string& account, Bytes* data);
int remove(const std::string& service, const std::string& account);

}  // namespace platform::keychain
