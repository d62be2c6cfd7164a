#pragma once
// Redis keeps a keyed hash of each password digest, never the digest: the
// digest is what the library sends, so a copy of Redis alone must not be
// enough to log in, nor to guess passwords offline without the hub's key.
#include <string>
#include <string_view>

namespace hub {

// HMAC-SHA256 of the digest under the key, as 64 lower-case hex digits.
std::string keyedHash(std::string_view key, std::string_view digest);

}  // namespace hub
