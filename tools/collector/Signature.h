// The file store's signed upload header and the digest it is signed with.
#pragma once

#include <string>

namespace collector {

// MD5 of the text as 32 lower-case hexadecimal digits.
std::string md5Hex(const std::string& text);

// Checks the file store's "UPLOAD-JSON" header: {"apikey":K,"op":O,...,"uid":60,"sig":S}
// with bare values. Returns "" when the signature matches, else the reason.
std::string checkUploadSignature(const std::string& header, const std::string& apiKey,
                                 const std::string& signingKey);

}  // namespace collector
