// Digests through OpenSSL's EVP interface.
//
// OpenSSL frees its tables in an exit handler (registered by libssl when it is loaded, so the
// library cannot opt out), while the library's background threads may still be hashing. A
// gate therefore closes when the process starts to exit: in-flight digests finish first
// (waited for, bounded), and a digest asked for afterwards by another thread waits for the
// process to end instead of touching freed state.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {
// MD5 of the bytes, as 32 lower-case hexadecimal digits.
std::string md5Hex(std::string_view bytes);
// SHA-256 of the bytes; all zero if the digest could not be computed.
std::array<std::uint8_t, 32> sha256(std::string_view bytes);
}  // namespace platform
