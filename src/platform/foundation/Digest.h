// Digests through libgcrypt, which libsystemd already brings into the process, so hashing
// adds no library of its own to a host's start. libgcrypt keeps no state that an exit
// handler frees, so background threads may hash while the process exits.
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
