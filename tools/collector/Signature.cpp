#include "Signature.h"

#include <openssl/evp.h>

#include <cstdio>
#include <map>

namespace collector {

std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr);
    std::string out;
    char buf[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", digest[i]);
        out += buf;
    }
    return out;
}

std::string checkUploadSignature(const std::string& header, const std::string& apiKey,
                                 const std::string& signingKey) {
    if (header.size() < 2 || header.front() != '{' || header.back() != '}') return "malformed UPLOAD-JSON";
    // Values are bare (not quoted) and contain no commas; keys are quoted.
    std::map<std::string, std::string> fields;
    const std::string inner = header.substr(1, header.size() - 2);
    std::size_t pos = 0;
    while (pos <= inner.size()) {
        std::size_t comma = inner.find(',', pos);
        if (comma == std::string::npos) comma = inner.size();
        const std::string piece = inner.substr(pos, comma - pos);
        const std::size_t colon = piece.find(':');
        if (colon == std::string::npos || colon < 2 || piece.front() != '"' || piece[colon - 1] != '"')
            return "malformed UPLOAD-JSON";
        fields[piece.substr(1, colon - 2)] = piece.substr(colon + 1);
        pos = comma + 1;
    }
    for (const char* k : {"apikey", "op", "suffix", "tag", "timestamp", "uid", "sig"})
        if (!fields.count(k)) return std::string("UPLOAD-JSON lacks ") + k;
    if (fields["apikey"] != apiKey) return "unknown apikey";
    const std::string signedText = "apikey=" + fields["apikey"] + "op=" + fields["op"] + "suffix=" + fields["suffix"] +
                                   "tag=" + fields["tag"] + "timestamp=" + fields["timestamp"] +
                                   "uid=" + fields["uid"];
    if (md5Hex(signedText + signingKey) != fields["sig"]) return "signature mismatch";
    return {};
}

}  // namespace collector
