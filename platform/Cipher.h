// The system's cryptography library: random bytes and AES-256-CBC with PKCS #7 padding.
//
// Windows: "Bcrypt.dll"; Linux: "libcrypto.so.3" (EVP and RAND_bytes). Both are loaded at run
// time from the system only, never from beside the executable, and every entry point is looked
// up by name and tested for null: a missing library or entry point makes each call fail.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace plat {

// Status in the Windows numbering: 0 success, anything else a failure.
using CipherStatus = uint32_t;
inline constexpr CipherStatus kCipherSuccess = 0;
inline constexpr CipherStatus kCipherUnsuccessful = 0xC0000001;  // STATUS_UNSUCCESSFUL
inline constexpr CipherStatus kCipherInvalidParameter = 0xC000000D;
inline constexpr CipherStatus kCipherNoMemory = 0xC0000017;  // STATUS_NO_MEMORY
inline constexpr CipherStatus kCipherNotFound = 0xC0000225;  // library or entry point missing

inline constexpr size_t kAes256KeyLength = 32;
inline constexpr size_t kAesBlockLength = 16;

class Cipher {
 public:
  virtual ~Cipher() = default;

  // Fills buffer with length bytes from the system's preferred random generator.
  virtual CipherStatus Random(uint8_t* buffer, size_t length) = 0;
  // The cipher's block length in bytes, which is also its IV length (16 for AES).
  virtual CipherStatus BlockLength(uint32_t& length) = 0;
  // AES-256-CBC with PKCS #7 padding. key must be 32 bytes and iv 16; the iv given is not
  // changed. out receives the ciphertext; it is left empty on failure.
  virtual CipherStatus Encrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv,
                               size_t ivLength, const uint8_t* plain, size_t plainLength,
                               std::vector<uint8_t>& out) = 0;
  // The reverse; the padding is checked and removed.
  virtual CipherStatus Decrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv,
                               size_t ivLength, const uint8_t* cipher, size_t cipherLength,
                               std::vector<uint8_t>& out) = 0;
};

// Loads the system's library; never null (without the library every call fails).
std::unique_ptr<Cipher> OpenSystemCipher();

}  // namespace plat
