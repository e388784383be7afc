#include "platform/Cipher.h"

#include <climits>

#include "platform/DynLib.h"

namespace plat {

namespace {

// The few libcrypto (OpenSSL 3) entry points used, declared from its public documentation.
// Contexts and cipher descriptions are opaque.
struct EvpCipherCtx;
struct EvpCipher;
using CtxNewFn = EvpCipherCtx* (*)();
using CtxFreeFn = void (*)(EvpCipherCtx*);
using Aes256CbcFn = const EvpCipher* (*)();
using BlockSizeFn = int (*)(const EvpCipher*);
using InitFn = int (*)(EvpCipherCtx*, const EvpCipher*, void* engine, const unsigned char* key,
                       const unsigned char* iv);
using UpdateFn = int (*)(EvpCipherCtx*, unsigned char* out, int* outLength, const unsigned char* in,
                         int inLength);
using FinalFn = int (*)(EvpCipherCtx*, unsigned char* out, int* outLength);
using RandBytesFn = int (*)(unsigned char* buffer, int length);

class LibCrypto final : public Cipher {
 public:
  LibCrypto() : lib_(LoadSystemLibrary("libcrypto.so.3")) {
    ctxNew_ = LookupEntryAs<CtxNewFn>(lib_, "EVP_CIPHER_CTX_new");
    ctxFree_ = LookupEntryAs<CtxFreeFn>(lib_, "EVP_CIPHER_CTX_free");
    aes256Cbc_ = LookupEntryAs<Aes256CbcFn>(lib_, "EVP_aes_256_cbc");
    blockSize_ = LookupEntryAs<BlockSizeFn>(lib_, "EVP_CIPHER_get_block_size");
    encryptInit_ = LookupEntryAs<InitFn>(lib_, "EVP_EncryptInit_ex");
    encryptUpdate_ = LookupEntryAs<UpdateFn>(lib_, "EVP_EncryptUpdate");
    encryptFinal_ = LookupEntryAs<FinalFn>(lib_, "EVP_EncryptFinal_ex");
    decryptInit_ = LookupEntryAs<InitFn>(lib_, "EVP_DecryptInit_ex");
    decryptUpdate_ = LookupEntryAs<UpdateFn>(lib_, "EVP_DecryptUpdate");
    decryptFinal_ = LookupEntryAs<FinalFn>(lib_, "EVP_DecryptFinal_ex");
    randBytes_ = LookupEntryAs<RandBytesFn>(lib_, "RAND_bytes");
  }
  ~LibCrypto() override { FreeRuntimeLibrary(lib_); }
  LibCrypto(const LibCrypto&) = delete;
  LibCrypto& operator=(const LibCrypto&) = delete;

  CipherStatus Random(uint8_t* buffer, size_t length) override {
    if (!randBytes_) return kCipherNotFound;
    if ((!buffer && length) || length > INT_MAX) return kCipherInvalidParameter;
    if (length == 0) return kCipherSuccess;
    return randBytes_(buffer, static_cast<int>(length)) == 1 ? kCipherSuccess : kCipherUnsuccessful;
  }

  CipherStatus BlockLength(uint32_t& length) override {
    length = 0;
    if (!aes256Cbc_ || !blockSize_) return kCipherNotFound;
    const EvpCipher* aes = aes256Cbc_();
    const int n = aes ? blockSize_(aes) : 0;
    if (n <= 0) return kCipherUnsuccessful;
    length = static_cast<uint32_t>(n);
    return kCipherSuccess;
  }

  CipherStatus Encrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv, size_t ivLength,
                       const uint8_t* plain, size_t plainLength,
                       std::vector<uint8_t>& out) override {
    return Run(true, key, keyLength, iv, ivLength, plain, plainLength, out);
  }

  CipherStatus Decrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv, size_t ivLength,
                       const uint8_t* cipher, size_t cipherLength,
                       std::vector<uint8_t>& out) override {
    return Run(false, key, keyLength, iv, ivLength, cipher, cipherLength, out);
  }

 private:
  CipherStatus Run(bool encrypt, const uint8_t* key, size_t keyLength, const uint8_t* iv,
                   size_t ivLength, const uint8_t* in, size_t inLength, std::vector<uint8_t>& out) {
    out.clear();
    const InitFn init = encrypt ? encryptInit_ : decryptInit_;
    const UpdateFn update = encrypt ? encryptUpdate_ : decryptUpdate_;
    const FinalFn finish = encrypt ? encryptFinal_ : decryptFinal_;
    if (!ctxNew_ || !ctxFree_ || !aes256Cbc_ || !init || !update || !finish) {
      return kCipherNotFound;
    }
    // The library reads exactly 32 key bytes and 16 IV bytes: anything else is refused here.
    if (!key || keyLength != kAes256KeyLength || !iv || ivLength != kAesBlockLength ||
        (!in && inLength) || inLength > INT_MAX - 2 * kAesBlockLength) {
      return kCipherInvalidParameter;
    }
    const EvpCipher* aes = aes256Cbc_();
    if (!aes) return kCipherUnsuccessful;
    EvpCipherCtx* ctx = ctxNew_();
    if (!ctx) return kCipherNoMemory;

    // Room for the input and one block of padding.
    std::vector<uint8_t> buffer(inLength + kAesBlockLength);
    int first = 0, last = 0;
    const bool ok = init(ctx, aes, nullptr, key, iv) == 1 &&
                    update(ctx, buffer.data(), &first, in, static_cast<int>(inLength)) == 1 &&
                    first >= 0 && static_cast<size_t>(first) <= buffer.size() &&
                    finish(ctx, buffer.data() + first, &last) == 1 && last >= 0 &&
                    static_cast<size_t>(first) + static_cast<size_t>(last) <= buffer.size();
    ctxFree_(ctx);
    if (ok) {
      out.assign(buffer.begin(), buffer.begin() + first + last);
    }
    for (uint8_t& b : buffer) *static_cast<volatile uint8_t*>(&b) = 0;
    return ok ? kCipherSuccess : kCipherUnsuccessful;
  }

  LibHandle lib_;
  CtxNewFn ctxNew_ = nullptr;
  CtxFreeFn ctxFree_ = nullptr;
  Aes256CbcFn aes256Cbc_ = nullptr;
  BlockSizeFn blockSize_ = nullptr;
  InitFn encryptInit_ = nullptr;
  UpdateFn encryptUpdate_ = nullptr;
  FinalFn encryptFinal_ = nullptr;
  InitFn decryptInit_ = nullptr;
  UpdateFn decryptUpdate_ = nullptr;
  FinalFn decryptFinal_ = nullptr;
  RandBytesFn randBytes_ = nullptr;
};

}  // namespace

std::unique_ptr<Cipher> OpenSystemCipher() { return std::make_unique<LibCrypto>(); }

}  // namespace plat
