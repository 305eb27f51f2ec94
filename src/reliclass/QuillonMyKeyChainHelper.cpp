#include "reliclass/QuillonMyKeyChainHelper.h"

#include "platform/foundation/Exception.h"
#include "platform/system/Keychain.h"
#include "reliclass/QuillonGuard.h"

namespace {

// Query keys, standing for the platform keychain's attributes:
//   "class" kSecClass (value "genp", a generic password), "svce" kSecAttrService,
//   "acct" kSecAttrAccount, "pdmn" kSecAttrAccessible (value "ck", accessible after the
//   first unlock), "v_Data" kSecValueData.
constexpr const char* kClass = "class";
constexpr const char* kService = "svce";
constexpr const char* kAccount = "acct";
constexpr const char* kAccessible = "pdmn";
constexpr const char* kValueData = "v_Data";

std::string queryText(const platform::Value& query, const char* key) { return platform::textOrEmpty(query, key); }

void deleteItem(const platform::Value& query) {
    platform::keychain::remove(queryText(query, kService), queryText(query, kAccount));
}

void replaceItem(const platform::Value& query) {
    const platform::Value* data = platform::find(query, kValueData);
    platform::Bytes bytes;
    if (data && data->is_binary()) bytes = data->get_binary();
    platform::keychain::update(queryText(query, kService), queryText(query, kAccount), bytes);
}

// Replaces the item of one service with the keyed archive of the value, in one step: a
// process that ends meanwhile keeps the old item or the new one. Statuses are not reported;
// a failed write keeps the old item.
void saveOne(const platform::Value& value, const std::string& service) {
    platform::Value query = QuillonMyKeyChainHelper::getKeyChainQuery(service);
    auto archive = platform::keyedArchive(value);
    if (!archive) {
        platform::Exception("NSInvalidArgumentException", "value cannot be archived").raise();
    }
    query[kValueData] = platform::bytesValue(*archive);
    replaceItem(query);
}

platform::Value readOne(const std::string& service) {
    platform::Value query = QuillonMyKeyChainHelper::getKeyChainQuery(service);
    platform::Bytes data;
    int status = platform::keychain::copyMatching(queryText(query, kService), queryText(query, kAccount), &data);
    if (status != platform::keychain::kSuccess) return platform::Value();
    auto value = platform::keyedUnarchive(data);
    if (!value) {
        platform::Exception("NSInvalidArgumentException", "*** -[NSKeyedUnarchiver initForReadingWithData:]: incomprehensible archive").raise();
    }
    return std::move(*value);
}

void save(std::initializer_list<std::pair<const platform::Value*, const std::string*>> pairs) {
    quillon::guarded([&] {
        for (const auto& [value, service] : pairs) saveOne(*value, *service);
    });
}

platform::Value readItem(const std::string& service) {
    return quillon::guarded([&] { return readOne(service); }, platform::Value());
}

void removeAll(std::initializer_list<const std::string*> services) {
    quillon::guarded([&] {
        for (const std::string* service : services) deleteItem(QuillonMyKeyChainHelper::getKeyChainQuery(*service));
    });
}

}  // namespace

platform::Value QuillonMyKeyChainHelper::getKeyChainQuery(const std::string& service) {
    platform::Value query = platform::dict();
    query[kClass] = "genp";
    query[kService] = service;
    query[kAccount] = service;
    query[kAccessible] = "ck";
    return query;
}

void QuillonMyKeyChainHelper::saveUserName(const platform::Value& userName, const std::string& userNameService,
                                           const platform::Value& psaaword, const std::string& psaawordService) {
    save({{&userName, &userNameService}, {&psaaword, &psaawordService}});
}

void QuillonMyKeyChainHelper::saveUserEmail(const platform::Value& userEmail, const std::string& userEmailService) {
    save({{&userEmail, &userEmailService}});
}

void QuillonMyKeyChainHelper::saveToken(const platform::Value& token, const std::string& tokenService) {
    save({{&token, &tokenService}});
}

void QuillonMyKeyChainHelper::saveUid(const platform::Value& uid, const std::string& uidService,
                                      const platform::Value& uname, const std::string& unameService,
                                      const platform::Value& toke, const std::string& tokenService) {
    save({{&uid, &uidService}, {&uname, &unameService}, {&toke, &tokenService}});
}

platform::Value QuillonMyKeyChainHelper::getUserNameWithService(const std::string& service) { return readItem(service); }
platform::Value QuillonMyKeyChainHelper::getPasswordWithService(const std::string& service) { return readItem(service); }
platform::Value QuillonMyKeyChainHelper::getEmailWithService(const std::string& service) { return readItem(service); }
platform::Value QuillonMyKeyChainHelper::getTokenWithService(const std::string& service) { return readItem(service); }
platform::Value QuillonMyKeyChainHelper::getUidWithService(const std::string& service) { return readItem(service); }
platform::Value QuillonMyKeyChainHelper::getUnameWithService(const std::string& service) { return readItem(service); }

void QuillonMyKeyChainHelper::deleteWithEmailService(const std::string& emailService) { removeAll({&emailService}); }

void QuillonMyKeyChainHelper::deleteWithUserNameService(const std::string& userNameService,
                                                        const std::string& psaawordService) {
    removeAll({&userNameService, &psaawordService});
}

void QuillonMyKeyChainHelper::deleteWithUidService(const std::string& uidService, const std::string& unameService,
                                                   const std::string& tokenService) {
    removeAll({&uidService, &unameService, &tokenService});
}
