#include "Wren/WrenTestUtil.h"

#include "reliclass/QuillonUtil.h"

std::string WrenTestUtil::md5HexDigestWithString(const std::string& string) {
    return QuillonUtil::md5HexDigestWithString(string);
}
