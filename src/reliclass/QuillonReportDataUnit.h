// The crash side's coordinator: holds the installation's identity (application key,
// channel, user, application group) and reports internal errors.
#pragma once

#include "platform/foundation/Value.h"

#include <exception>
#include <optional>
#include <string>

class QuillonReportDataUnit {
public:
    static QuillonReportDataUnit& shareStance();
    static QuillonReportDataUnit* activeInstance();

    // Prints "SDK error:%@" with the exception through the platform logger, always.
    // The message is not printed.
    void reportSDKException(const std::exception& exception, const std::string& message);
    void reportSDKException(const std::string& description, const std::string& message);

    void setQuillonUserInfo(const std::optional<std::string>& user);

    std::optional<std::string> appKey;
    std::optional<std::string> channel;
    std::optional<std::string> user;
    std::optional<std::string> groupId;

private:
    QuillonReportDataUnit() = default;
};
