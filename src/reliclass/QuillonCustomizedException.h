// An exception object with an extra message: used for the customized exceptions the host
// reports and for fatal signals.
#pragma once

#include "platform/foundation/Exception.h"

#include <optional>
#include <string>

class QuillonCustomizedException : public platform::Exception {
public:
    QuillonCustomizedException(std::string name, std::string reason, platform::Value userInfo = platform::Value(),
                               std::optional<std::string> message = std::nullopt);

    static QuillonCustomizedException exceptionWithName(const std::string& name, const std::string& reason,
                                                        const platform::Value& userInfo);
    static QuillonCustomizedException exceptionWithName(const std::string& name, const std::string& reason,
                                                        const platform::Value& userInfo,
                                                        const std::optional<std::string>& message);

    // nullopt when the exception carries no message.
    const std::optional<std::string>& message() const { return message_; }

    [[noreturn]] void throwCopy() const override;

private:
    std::optional<std::string> message_;
};
