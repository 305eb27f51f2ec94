// The system-wide notification center: payload-free notifications, identified by name,
// posted by one process and observed by every process of the same user.
//
// Mechanism: every name is one file in the user's notification directory,
// $XDG_RUNTIME_DIR/quillon-notify/<name> (without a usable $XDG_RUNTIME_DIR:
// /tmp/quillon-notify-<uid>/), created 0700 and checked to be a real directory owned by the
// user. Posting writes an incremented counter into that file (open, write, close), which
// the kernel reports to inotify as IN_CLOSE_WRITE; a file renamed into place (IN_MOVED_TO)
// counts as a post too. Observers are served by one background thread per process that
// watches the directory; callbacks run on that thread. Names are file names: non-empty,
// no "/", not "." or "..", and not starting with ".".
#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

class DarwinNotifyCenter {
public:
    // (center, observer, name, object, userInfo); object and userInfo are always empty.
    using Callback = void (*)(DarwinNotifyCenter* center, const void* observer, const std::string& name,
                              const void* object, const Value& userInfo);

    static DarwinNotifyCenter& center();

    // Posts `name` to every observer of this user. False when the name is not usable or the
    // file could not be written.
    static bool post(const std::string& name);
    // The notification directory (created 0700 when missing), or nullopt when it cannot be
    // made safe to use.
    static std::optional<std::string> directory();
    static bool isValidName(const std::string& name);

    // Adds (observer, name) with its callback; an existing pair is replaced, so one
    // observer never gets a name twice. The directory is being watched when this returns.
    bool addObserver(const void* observer, Callback callback, const std::string& name);
    void removeObserver(const void* observer, const std::string& name);
    std::size_t observerCount(const std::string& name) const;

    DarwinNotifyCenter(const DarwinNotifyCenter&) = delete;
    DarwinNotifyCenter& operator=(const DarwinNotifyCenter&) = delete;

private:
    DarwinNotifyCenter() = default;
    struct Impl;
    Impl& impl() const;
};

}  // namespace platform
