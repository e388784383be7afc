// The cryptography of sealed hardware-access requests: system random bytes and AES-256-CBC
// through the system's library (Bcrypt.dll on Windows, libcrypto on Linux).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Cipher.h"

namespace brumel {

class TCryptography {
 public:
  // Loads the system's library (freed again when this object goes).
  TCryptography();
  // Works through the given library instead (tests: a fixed random source).
  explicit TCryptography(std::unique_ptr<plat::Cipher> library);
  TCryptography(const TCryptography&) = delete;
  TCryptography& operator=(const TCryptography&) = delete;

  // length bytes from the system's preferred random generator.
  plat::CipherStatus GenRandom(uint8_t* buffer, size_t length);
  // Encrypts plain under key with a fresh random IV of the cipher's block length and PKCS #7
  // padding. iv receives the IV as generated, cipher the ciphertext; both are empty on failure.
  plat::CipherStatus Encrypt(const uint8_t* key, size_t keyLength, const uint8_t* plain,
                             size_t plainLength, std::vector<uint8_t>& iv,
                             std::vector<uint8_t>& cipher);

 private:
  std::unique_ptr<plat::Cipher> Library_;
};

// Overwrites bytes with zeros in a way the compiler keeps.
void WipeBytes(void* bytes, size_t length);

}  // namespace brumel
