#include "platform/foundation/Digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace platform {
namespace {
// OpenSSL without its exit-time cleanup: background threads (hashing here, TLS-less HTTP in
// libcurl) may still use it while the process exits, and its atexit handler would free its
// tables under them. Only the first initialisation decides, so this runs at load time,
// before libcurl's.
[[maybe_unused]] const bool kCryptoInitialised = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
}  // namespace

std::string md5Hex(std::string_view bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1 &&
              EVP_DigestUpdate(ctx, bytes.data(), bytes.size()) == 1 && EVP_DigestFinal_ex(ctx, md, &len) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok) return {};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(len * 2);
    for (unsigned i = 0; i < len; ++i) {
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

}  // namespace platform
