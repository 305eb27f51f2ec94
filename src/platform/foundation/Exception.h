// Exception objects: a name, a reason, a user-info dictionary and the return addresses of
// the place where the exception was raised (empty for one that was created but never raised).
#pragma once

#include "platform/foundation/Value.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class Exception : public std::exception {
public:
    Exception(std::string name, std::string reason, Value userInfo = Value());
    ~Exception() override;

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Value& userInfo() const { return userInfo_; }
    const std::vector<void*>& callStackReturnAddresses() const { return returnAddresses_; }
    void setCallStackReturnAddresses(std::vector<void*> addresses) { returnAddresses_ = std::move(addresses); }
    const char* what() const noexcept override { return reason_.c_str(); }

    // Captures the current thread's return addresses and throws a copy of this object.
    [[noreturn]] void raise();
    // Throws a copy of this object as its own class; subclasses override it so that raise()
    // does not slice them.
    [[noreturn]] virtual void throwCopy() const;

    // "name: reason", what the platform's logger prints for an exception.
    virtual std::string description() const;

private:
    std::string name_;
    std::string reason_;
    Value userInfo_;
    std::vector<void*> returnAddresses_;
};

}  // namespace platform
