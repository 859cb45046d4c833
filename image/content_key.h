// The content key of a build: the SHA-256 of its payload block, in lower-case
// hex. Two builds carry the same application exactly when their keys agree.
#pragma once

#include <cstdint>
#include <string>

std::string payload_content_key(const unsigned char* block, std::uint64_t size);
