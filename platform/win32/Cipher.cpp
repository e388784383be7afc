#include "platform/Cipher.h"

#include <windows.h>

#include "platform/DynLib.h"

namespace plat {

namespace {

// The entry points of Bcrypt.dll used here, declared from the library's documentation.
using BcryptHandle = void*;
using NtStatus = LONG;
using OpenAlgorithmProviderFn = NtStatus(WINAPI*)(BcryptHandle* algorithm, LPCWSTR algorithmId,
                                                  LPCWSTR implementation, ULONG flags);
using CloseAlgorithmProviderFn = NtStatus(WINAPI*)(BcryptHandle algorithm, ULONG flags);
using GetPropertyFn = NtStatus(WINAPI*)(BcryptHandle object, LPCWSTR property, PUCHAR output,
                                        ULONG outputLength, ULONG* resultLength, ULONG flags);
using SetPropertyFn = NtStatus(WINAPI*)(BcryptHandle object, LPCWSTR property, PUCHAR input,
                                        ULONG inputLength, ULONG flags);
using GenerateSymmetricKeyFn = NtStatus(WINAPI*)(BcryptHandle algorithm, BcryptHandle* key,
                                                 PUCHAR keyObject, ULONG keyObjectLength,
                                                 PUCHAR secret, ULONG secretLength, ULONG flags);
using CryptFn = NtStatus(WINAPI*)(BcryptHandle key, PUCHAR input, ULONG inputLength,
                                  void* paddingInfo, PUCHAR iv, ULONG ivLength, PUCHAR output,
                                  ULONG outputLength, ULONG* resultLength, ULONG flags);
using DestroyKeyFn = NtStatus(WINAPI*)(BcryptHandle key);
using GenRandomFn = NtStatus(WINAPI*)(BcryptHandle algorithm, PUCHAR buffer, ULONG length,
                                      ULONG flags);

constexpr size_t kMaxLength = 0xFFFFFFFFu;            // lengths are ULONG
constexpr ULONG kBlockPadding = 0x00000001;           // BCRYPT_BLOCK_PADDING
constexpr ULONG kUseSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG

constexpr CipherStatus Status(NtStatus s) { return static_cast<CipherStatus>(s); }

void Wipe(std::vector<uint8_t>& bytes) {
  for (uint8_t& b : bytes) *static_cast<volatile uint8_t*>(&b) = 0;
}

class Bcrypt final : public Cipher {
 public:
  Bcrypt() : lib_(LoadSystemLibrary("Bcrypt.dll")) {
    openProvider_ = LookupEntryAs<OpenAlgorithmProviderFn>(lib_, "BCryptOpenAlgorithmProvider");
    closeProvider_ = LookupEntryAs<CloseAlgorithmProviderFn>(lib_, "BCryptCloseAlgorithmProvider");
    getProperty_ = LookupEntryAs<GetPropertyFn>(lib_, "BCryptGetProperty");
    setProperty_ = LookupEntryAs<SetPropertyFn>(lib_, "BCryptSetProperty");
    generateKey_ = LookupEntryAs<GenerateSymmetricKeyFn>(lib_, "BCryptGenerateSymmetricKey");
    encrypt_ = LookupEntryAs<CryptFn>(lib_, "BCryptEncrypt");
    decrypt_ = LookupEntryAs<CryptFn>(lib_, "BCryptDecrypt");
    destroyKey_ = LookupEntryAs<DestroyKeyFn>(lib_, "BCryptDestroyKey");
    genRandom_ = LookupEntryAs<GenRandomFn>(lib_, "BCryptGenRandom");
  }
  ~Bcrypt() override { FreeRuntimeLibrary(lib_); }
  Bcrypt(const Bcrypt&) = delete;
  Bcrypt& operator=(const Bcrypt&) = delete;

  CipherStatus Random(uint8_t* buffer, size_t length) override {
    if (!genRandom_) return kCipherNotFound;
    if ((!buffer && length) || length > kMaxLength) return kCipherInvalidParameter;
    if (length == 0) return kCipherSuccess;
    return Status(genRandom_(nullptr, buffer, static_cast<ULONG>(length), kUseSystemPreferredRng));
  }

  CipherStatus BlockLength(uint32_t& length) override {
    length = 0;
    Provider aes(*this);
    if (aes.status != kCipherSuccess) return aes.status;
    return ReadLength(aes.handle, L"BlockLength", length);
  }

  CipherStatus Encrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv, size_t ivLength,
                       const uint8_t* plain, size_t plainLength,
                       std::vector<uint8_t>& out) override {
    return Run(encrypt_, key, keyLength, iv, ivLength, plain, plainLength, out);
  }

  CipherStatus Decrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv, size_t ivLength,
                       const uint8_t* cipher, size_t cipherLength,
                       std::vector<uint8_t>& out) override {
    return Run(decrypt_, key, keyLength, iv, ivLength, cipher, cipherLength, out);
  }

 private:
  // The AES provider, open for the life of one operation.
  struct Provider {
    explicit Provider(Bcrypt& b) : owner(b) {
      if (!b.openProvider_ || !b.closeProvider_) {
        status = kCipherNotFound;
        return;
      }
      status = Status(b.openProvider_(&handle, L"AES", nullptr, 0));
      if (status != kCipherSuccess) handle = nullptr;
    }
    ~Provider() {
      if (handle) owner.closeProvider_(handle, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    Bcrypt& owner;
    BcryptHandle handle = nullptr;
    CipherStatus status = kCipherUnsuccessful;
  };

  CipherStatus ReadLength(BcryptHandle object, LPCWSTR property, uint32_t& length) {
    if (!getProperty_) return kCipherNotFound;
    ULONG value = 0, got = 0;
    const NtStatus s =
        getProperty_(object, property, reinterpret_cast<PUCHAR>(&value), sizeof value, &got, 0);
    if (s != 0) return Status(s);
    if (got != sizeof value) return kCipherUnsuccessful;
    length = value;
    return kCipherSuccess;
  }

  CipherStatus Run(CryptFn crypt, const uint8_t* key, size_t keyLength, const uint8_t* iv,
                   size_t ivLength, const uint8_t* in, size_t inLength, std::vector<uint8_t>& out) {
    out.clear();
    if (!crypt || !setProperty_ || !generateKey_ || !destroyKey_) return kCipherNotFound;
    if (!key || keyLength != kAes256KeyLength || !iv || ivLength != kAesBlockLength ||
        (!in && inLength) || inLength > kMaxLength - 2 * kAesBlockLength) {
      return kCipherInvalidParameter;
    }
    Provider aes(*this);
    if (aes.status != kCipherSuccess) return aes.status;
    // CBC is the provider's default; say so rather than rely on it.
    wchar_t mode[] = L"ChainingModeCBC";
    NtStatus s =
        setProperty_(aes.handle, L"ChainingMode", reinterpret_cast<PUCHAR>(mode), sizeof mode, 0);
    if (s != 0) return Status(s);
    uint32_t objectLength = 0;
    CipherStatus st = ReadLength(aes.handle, L"ObjectLength", objectLength);
    if (st != kCipherSuccess) return st;
    if (objectLength > 0x10000) return kCipherUnsuccessful;

    std::vector<uint8_t> keyObject(objectLength);
    std::vector<uint8_t> secret(key, key + keyLength);
    BcryptHandle keyHandle = nullptr;
    s = generateKey_(aes.handle, &keyHandle, keyObject.data(), objectLength, secret.data(),
                     static_cast<ULONG>(secret.size()), 0);
    Wipe(secret);
    if (s != 0) return Status(s);

    // The library overwrites the IV it is given (Windows does, Wine does not): it gets a copy,
    // and a copy of the input, which it takes as writable.
    std::vector<uint8_t> input(in, in + inLength);
    std::vector<uint8_t> ivCopy(iv, iv + ivLength);
    ULONG needed = 0;
    s = crypt(keyHandle, input.data(), static_cast<ULONG>(input.size()), nullptr, ivCopy.data(),
              static_cast<ULONG>(ivCopy.size()), nullptr, 0, &needed, kBlockPadding);
    std::vector<uint8_t> output;
    ULONG produced = 0;
    if (s == 0 && needed <= inLength + kAesBlockLength) {
      output.resize(needed);
      s = crypt(keyHandle, input.data(), static_cast<ULONG>(input.size()), nullptr, ivCopy.data(),
                static_cast<ULONG>(ivCopy.size()), output.data(), needed, &produced, kBlockPadding);
    } else if (s == 0) {
      s = static_cast<NtStatus>(kCipherUnsuccessful);
    }
    destroyKey_(keyHandle);
    Wipe(keyObject);
    Wipe(input);
    if (s == 0 && produced <= output.size()) {
      out.assign(output.begin(), output.begin() + produced);
    } else if (s == 0) {
      s = static_cast<NtStatus>(kCipherUnsuccessful);
    }
    Wipe(output);
    return Status(s);
  }

  LibHandle lib_;
  OpenAlgorithmProviderFn openProvider_ = nullptr;
  CloseAlgorithmProviderFn closeProvider_ = nullptr;
  GetPropertyFn getProperty_ = nullptr;
  SetPropertyFn setProperty_ = nullptr;
  GenerateSymmetricKeyFn generateKey_ = nullptr;
  CryptFn encrypt_ = nullptr;
  CryptFn decrypt_ = nullptr;
  DestroyKeyFn destroyKey_ = nullptr;
  GenRandomFn genRandom_ = nullptr;
};

}  // namespace

std::unique_ptr<Cipher> OpenSystemCipher() { return std::make_unique<Bcrypt>(); }

}  // namespace plat
