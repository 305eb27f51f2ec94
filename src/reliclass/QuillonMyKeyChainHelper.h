// Small values kept in the keychain, where they outlive a reinstallation of the application.
// Every item is a generic password whose service and account are the service name; values
// are stored as keyed archives. A save is always delete-then-add.
#pragma once

#include "platform/foundation/Value.h"

#include <string>

class QuillonMyKeyChainHelper {
public:
    // The query that addresses one item: class, service, account, accessibility (in order).
    static platform::Value getKeyChainQuery(const std::string& service);

    static void saveUserName(const platform::Value& userName, const std::string& userNameService,
                             const platform::Value& psaaword, const std::string& psaawordService);
    static void saveUserEmail(const platform::Value& userEmail, const std::string& userEmailService);
    static void saveToken(const platform::Value& token, const std::string& tokenService);
    static void saveUid(const platform::Value& uid, const std::string& uidService,
                        const platform::Value& uname, const std::string& unameService,
                        const platform::Value& toke, const std::string& tokenService);

    // The decoded value, or null when there is no such item or it cannot be read.
    static platform::Value getUserNameWithService(const std::string& service);
    static platform::Value getPasswordWithService(const std::string& service);
    static platform::Value getEmailWithService(const std::string& service);
    static platform::Value getTokenWithService(const std::string& service);
    static platform::Value getUidWithService(const std::string& service);
    static platform::Value getUnameWithService(const std::string& service);

    static void deleteWithEmailService(const std::string& emailService);
    static void deleteWithUserNameService(const std::string& userNameService, const std::string& psaawordService);
    static void deleteWithUidService(const std::string& uidService, const std::string& unameService,
                                     const std::string& tokenService);
};
