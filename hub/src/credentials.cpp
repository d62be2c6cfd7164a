#include "credentials.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace hub {

std::string keyedHash(std::string_view key, std::string_view digest) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // An empty key is still a valid HMAC key; the hub warns at start when it has none.
  static const unsigned char kNoKey = 0;
  const void* keyBytes = key.empty() ? static_cast<const void*>(&kNoKey) : static_cast<const void*>(key.data());
  if (!HMAC(EVP_sha256(), keyBytes, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(digest.data()),
            digest.size(), out, &length))
    return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[out[i] >> 4]);
    hex.push_back(kHex[out[i] & 15]);
  }
  return hex;
}

}  // namespace hub
