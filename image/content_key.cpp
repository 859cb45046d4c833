#include "image/content_key.h"

#include <openssl/evp.h>

std::string payload_content_key(const unsigned char* block, std::uint64_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(block, static_cast<std::size_t>(size), digest, &length, EVP_sha256(), nullptr)) return "";
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0xF];
    }
    return text;
}
