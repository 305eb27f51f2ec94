#include "platform/foundation/Exception.h"

#include <execinfo.h>

namespace platform {

Exception::Exception(std::string name, std::string reason, Value userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}

Exception::~Exception() = default;

void Exception::raise() {
    void* frames[128];
    int n = ::backtrace(frames, 128);
    returnAddresses_.assign(frames, frames + (n > 0 ? n : 0));
    throwCopy();
    __builtin_unreachable();  // throwCopy never returns
}

void Exception::throwCopy() const { throw Exception(*this); }

std::string Exception::description() const { return name_ + ": " + reason_; }

}  // namespace platform
