#include "platform/foundation/Digest.h"

#include <gcrypt.h>

#include <mutex>

namespace platform {
namespace {

// libgcrypt must be told once that its caller is ready before the first hash.
bool ready() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        ok = gcry_check_version(nullptr) != nullptr;
        // Hashing never needs secure memory; systemd (sharing the library) does the same.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
    return ok;
}

bool digest(int algorithm, std::string_view bytes, unsigned char* out) {
    if (!ready()) return false;
    gcry_md_hash_buffer(algorithm, out, bytes.data(), bytes.size());
    return true;
}

}  // namespace

std::string md5Hex(std::string_view bytes) {
    unsigned char md[16];
    if (!digest(GCRY_MD_MD5, bytes, md)) return {};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(32);
    for (unsigned char c : md) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

std::array<std::uint8_t, 32> sha256(std::string_view bytes) {
    std::array<std::uint8_t, 32> result{};
    if (!digest(GCRY_MD_SHA256, bytes, result.data())) result.fill(0);
    return result;
}

}  // namespace platform
