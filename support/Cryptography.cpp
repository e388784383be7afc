#include "support/Cryptography.h"

#include <utility>

namespace brumel {

void WipeBytes(void* bytes, size_t length) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(bytes);
  for (size_t i = 0; i < length; ++i) p[i] = 0;
}

TCryptography::TCryptography() : Library_(plat::OpenSystemCipher()) {}

TCryptography::TCryptography(std::unique_ptr<plat::Cipher> library)
    : Library_(std::move(library)) {}

plat::CipherStatus TCryptography::GenRandom(uint8_t* buffer, size_t length) {
  if (!Library_) return plat::kCipherNotFound;
  return Library_->Random(buffer, length);
}

plat::CipherStatus TCryptography::Encrypt(const uint8_t* key, size_t keyLength,
                                          const uint8_t* plain, size_t plainLength,
                                          std::vector<uint8_t>& iv, std::vector<uint8_t>& cipher) {
  iv.clear();
  cipher.clear();
  if (!Library_) return plat::kCipherNotFound;
  // The IV is one block of the cipher.
  uint32_t ivLength = 0;
  plat::CipherStatus status = Library_->BlockLength(ivLength);
  if (status != plat::kCipherSuccess) return status;
  if (ivLength == 0 || ivLength > 256) return plat::kCipherUnsuccessful;
  iv.resize(ivLength);
  status = GenRandom(iv.data(), iv.size());
  if (status == plat::kCipherSuccess) {
    status = Library_->Encrypt(key, keyLength, iv.data(), iv.size(), plain, plainLength, cipher);
  }
  if (status != plat::kCipherSuccess) {
    WipeBytes(cipher.data(), cipher.size());
    cipher.clear();
    iv.clear();
  }
  return status;
}

}  // namespace brumel
