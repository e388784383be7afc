#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/ReadWrite.h"

// Runs on both targets: libcrypto on Linux, Bcrypt under Wine. The fixed envelopes below are
// the same on both, so the two backends seal alike.

namespace brumel {
namespace {

using Bytes = std::vector<uint8_t>;

std::string ToHex(const Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

uint32_t LE32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

const char kTestKeyText[] = "A1B2C3D4E5F60718293A4B5C6D7E8F90";

// The system's cipher with the random source and the results made controllable.
class TestCipher final : public plat::Cipher {
 public:
  bool Counting = false;   // random bytes 00 01 02 ... across calls, instead of the system's
  int FailRandomCall = 0;  // the n-th random fill (from 1) fails
  uint32_t BlockLengthAnswer = 0;  // non-zero: the block length reported
  size_t CipherLengthAnswer = 0;   // non-zero: a ciphertext of this length instead

  plat::CipherStatus Random(uint8_t* buffer, size_t length) override {
    if (++randomCalls_ == FailRandomCall) return plat::kCipherUnsuccessful;
    if (!Counting) return system_->Random(buffer, length);
    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(counter_++);
    return plat::kCipherSuccess;
  }
  plat::CipherStatus BlockLength(uint32_t& length) override {
    const plat::CipherStatus s = system_->BlockLength(length);
    if (BlockLengthAnswer) length = BlockLengthAnswer;
    return s;
  }
  plat::CipherStatus Encrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv,
                             size_t ivLength, const uint8_t* plain, size_t plainLength,
                             Bytes& out) override {
    if (CipherLengthAnswer) {
      out.assign(CipherLengthAnswer, 0x5A);
      return plat::kCipherSuccess;
    }
    return system_->Encrypt(key, keyLength, iv, ivLength, plain, plainLength, out);
  }
  plat::CipherStatus Decrypt(const uint8_t* key, size_t keyLength, const uint8_t* iv,
                             size_t ivLength, const uint8_t* cipher, size_t cipherLength,
                             Bytes& out) override {
    return system_->Decrypt(key, keyLength, iv, ivLength, cipher, cipherLength, out);
  }

 private:
  std::unique_ptr<plat::Cipher> system_ = plat::OpenSystemCipher();
  int randomCalls_ = 0;
  unsigned counter_ = 0;
};

// The driver's device: records each request and answers with a fixed reply.
class FakeDriver final : public plat::DeviceIo {
 public:
  struct Call {
    plat::DeviceHandle device;
    uint32_t code;
    Bytes input;
    uint32_t outSize;
  };
  std::vector<Call> Calls;
  bool Fails = false;
  Bytes Reply;                // copied into the output buffer
  uint32_t ReplyLength = 12;  // reported as returned

  plat::DeviceHandle Open(const std::string&, plat::DeviceOpen) override {
    return plat::kInvalidDevice;
  }
  bool Control(plat::DeviceHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t& returned) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(in);
    Calls.push_back({device, code, Bytes(bytes, bytes + inSize), outSize});
    returned = 0;
    if (Fails) return false;
    std::memcpy(out, Reply.data(), std::min<size_t>(Reply.size(), outSize));
    returned = ReplyLength;
    return true;
  }
  void Close(plat::DeviceHandle) override {}
};

struct Rig {
  FakeDriver driver;
  TestCipher* cipher = nullptr;
  std::unique_ptr<TReadWrite> rw;

  explicit Rig(uint32_t level = 0x1C1) {
    auto c = std::make_unique<TestCipher>();
    cipher = c.get();
    TReadWriteSetup setup;
    setup.VersionLevel = level;
    setup.UseDriver = true;
    setup.Device = 7;
    setup.Devices = &driver;
    setup.Crypto = std::make_unique<TCryptography>(std::move(c));
    setup.KeyText = kTestKeyText;
    rw = std::make_unique<TReadWrite>(std::move(setup));
    // The driver's answer to a configuration read: the block with the value at 8.
    driver.Reply = {3, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x10, 0xBF, 0x73};
  }
};

// What the driver does with an envelope: rebuild the key from the key text and the key bytes
// carried in clear, and decrypt.
Bytes Unseal(const Bytes& envelope, const char* keyText = kTestKeyText) {
  EXPECT_EQ(envelope.size(), kEnvelopeSize);
  if (envelope.size() != kEnvelopeSize) return {};
  Bytes key(keyText, keyText + 32);
  std::memcpy(key.data() + 13, envelope.data() + 27, 16);
  const uint32_t ivLength = LE32(envelope.data() + 2);
  const uint32_t cipherLength = LE32(envelope.data() + 98);
  EXPECT_EQ(ivLength, 16u);
  EXPECT_EQ(cipherLength, 48u);
  Bytes plain;
  auto cipher = plat::OpenSystemCipher();
  EXPECT_EQ(cipher->Decrypt(key.data(), key.size(), envelope.data() + 6, 16,
                            envelope.data() + 104 - 6 - cipherLength, cipherLength, plain),
            plat::kCipherSuccess);
  return plain;
}

Bytes ConfigReadPlain(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset) {
  Bytes p(40, 0);
  p[0] = 0x40;
  p[1] = 0xE8;
  p[2] = 0x22;
  p[8] = bus;
  p[9] = device;
  p[10] = function;
  p[12] = static_cast<uint8_t>(offset);
  p[13] = static_cast<uint8_t>(offset >> 8);
  return p;
}

TEST(SystemCipher, Aes256CbcKnownVector) {
  auto cipher = plat::OpenSystemCipher();
  Bytes key, iv, plain;
  for (int i = 0x10; i < 0x30; ++i) key.push_back(static_cast<uint8_t>(i));
  for (int i = 0xA0; i < 0xB0; ++i) iv.push_back(static_cast<uint8_t>(i));
  for (int i = 0; i < 0x28; ++i) plain.push_back(static_cast<uint8_t>(i));
  const Bytes ivBefore = iv;
  Bytes out;
  ASSERT_EQ(cipher->Encrypt(key.data(), key.size(), iv.data(), iv.size(), plain.data(),
                            plain.size(), out),
            plat::kCipherSuccess);
  EXPECT_EQ(ToHex(out),
            "d1bd64350afc4700506c3a6bc097b5e42d28dbbb59cba6383ff5ad15e65ab3a859b0a19c1a85ed522ac"
            "8ecd35c5b02b5");
  EXPECT_EQ(iv, ivBefore);
  Bytes back;
  ASSERT_EQ(
      cipher->Decrypt(key.data(), key.size(), iv.data(), iv.size(), out.data(), out.size(), back),
      plat::kCipherSuccess);
  EXPECT_EQ(back, plain);

  uint32_t block = 0;
  EXPECT_EQ(cipher->BlockLength(block), plat::kCipherSuccess);
  EXPECT_EQ(block, 16u);
  Bytes a(32, 0), b(32, 0);
  ASSERT_EQ(cipher->Random(a.data(), a.size()), plat::kCipherSuccess);
  ASSERT_EQ(cipher->Random(b.data(), b.size()), plat::kCipherSuccess);
  EXPECT_NE(a, b);

  // Lengths the cipher does not take are refused, never read past.
  EXPECT_NE(cipher->Encrypt(key.data(), 16, iv.data(), iv.size(), plain.data(), plain.size(), out),
            plat::kCipherSuccess);
  EXPECT_NE(cipher->Encrypt(key.data(), key.size(), iv.data(), 8, plain.data(), plain.size(), out),
            plat::kCipherSuccess);
  EXPECT_TRUE(out.empty());
}

TEST(SealedRequest, ExactEnvelopeOfAConfigurationRead) {
  // Random bytes counted from 00: key bytes 00..0F, envelope 10..77, IV 78..87.
  const struct {
    uint16_t offset;
    const char* envelope;
  } cases[] = {
      {0x00,
       "10111000000078797a7b7c7d7e7f8081828384858687262728292a000102030405060708090a0b0c0d0e0f3b3c"
       "3d3e3f4041682cb20f5d60563e2598b7affdf266e9d3ec18da59454047509db606d01359c3ed276490aa5d89"
       "77b7781ceffec1c41e300000007677"},
      {0x2C,
       "10111000000078797a7b7c7d7e7f8081828384858687262728292a000102030405060708090a0b0c0d0e0f3b3c"
       "3d3e3f4041af61d2d5c47c38e8bd543d902af6725acfe5293830a7ba15b3acaf9c41e6e963c7d07f2b0507d9"
       "fb06c42283f2ea9418300000007677"},
  };
  for (const auto& c : cases) {
    Rig rig;
    rig.cipher->Counting = true;
    EXPECT_EQ(rig.rw->ReadPciConfig(3, 0, c.offset, 0), 0x73BF1002u);
    ASSERT_EQ(rig.driver.Calls.size(), 1u);
    const FakeDriver::Call& call = rig.driver.Calls[0];
    EXPECT_EQ(call.device, 7);
    EXPECT_EQ(call.code, 0x22EC00u);
    EXPECT_EQ(call.outSize, 12u);
    EXPECT_EQ(ToHex(call.input), c.envelope) << "offset " << c.offset;
    EXPECT_EQ(Unseal(call.input), ConfigReadPlain(3, 0, 0, c.offset));
  }
}

TEST(SealedRequest, FreshEnvelopesUnsealToTheRequest) {
  Rig rig;
  rig.rw->ReadPciConfig(3, 0, 0x00, 0);
  rig.rw->ReadPciConfig(3, 0, 0x00, 0);
  rig.rw->ReadPciConfig(0x41, 0x1F, 0x2C, 7);
  ASSERT_EQ(rig.driver.Calls.size(), 3u);
  EXPECT_EQ(Unseal(rig.driver.Calls[0].input), ConfigReadPlain(3, 0, 0, 0));
  EXPECT_EQ(Unseal(rig.driver.Calls[2].input), ConfigReadPlain(0x41, 0x1F, 7, 0x2C));

  // Two envelopes of the same read have only their two length fields in common.
  const Bytes& a = rig.driver.Calls[0].input;
  const Bytes& b = rig.driver.Calls[1].input;
  const struct {
    const char* field;
    size_t at, length;
  } fields[] = {{"filler 0", 0, 2},    {"IV", 6, 16},        {"filler 22", 22, 5},
                {"key bytes", 27, 16}, {"filler 43", 43, 7}, {"ciphertext", 50, 48},
                {"filler 102", 102, 2}};
  for (const auto& f : fields) {
    EXPECT_NE(Bytes(a.begin() + f.at, a.begin() + f.at + f.length),
              Bytes(b.begin() + f.at, b.begin() + f.at + f.length))
        << f.field;
  }
  EXPECT_EQ(Bytes(a.begin() + 2, a.begin() + 6), Bytes(b.begin() + 2, b.begin() + 6));
  EXPECT_EQ(Bytes(a.begin() + 98, a.begin() + 102), Bytes(b.begin() + 98, b.begin() + 102));
}

TEST(SealedRequest, NothingAddsUpNothingIsSent) {
  struct Case {
    const char* what;
    void (*setup)(Rig&);
    size_t calls;
  };
  const Case cases[] = {
      {"random key bytes fail", [](Rig& r) { r.cipher->FailRandomCall = 1; }, 0},
      {"random envelope fill fails", [](Rig& r) { r.cipher->FailRandomCall = 2; }, 0},
      {"random IV fails", [](Rig& r) { r.cipher->FailRandomCall = 3; }, 0},
      {"block length 8", [](Rig& r) { r.cipher->BlockLengthAnswer = 8; }, 0},
      {"block length 32", [](Rig& r) { r.cipher->BlockLengthAnswer = 32; }, 0},
      {"ciphertext of 32 bytes", [](Rig& r) { r.cipher->CipherLengthAnswer = 32; }, 0},
      {"ciphertext of 64 bytes", [](Rig& r) { r.cipher->CipherLengthAnswer = 64; }, 0},
      {"device call fails", [](Rig& r) { r.driver.Fails = true; }, 1},
      {"reply of 11 bytes", [](Rig& r) { r.driver.ReplyLength = 11; }, 1},
      {"reply of no bytes", [](Rig& r) { r.driver.ReplyLength = 0; }, 1},
  };
  for (const Case& c : cases) {
    Rig rig;
    // A value left in the block by an earlier read must not come back.
    std::memset(rig.rw->PciRequest, 0x11, sizeof rig.rw->PciRequest);
    c.setup(rig);
    EXPECT_EQ(rig.rw->ReadPciConfig(3, 0, 0, 0), 0xFFFFFFFFu) << c.what;
    EXPECT_EQ(rig.driver.Calls.size(), c.calls) << c.what;
  }

  Rig rig;
  uint8_t input[33] = {}, output[12] = {};
  uint32_t returned = 99;
  EXPECT_FALSE(rig.rw->SendRequest(7, 0x22E840, input, 33, output, 12, &returned));
  EXPECT_EQ(returned, 0u);
  EXPECT_TRUE(rig.driver.Calls.empty());
  EXPECT_TRUE(rig.rw->SendRequest(7, 0x22E840, input, 32, output, 12, &returned));
  EXPECT_EQ(returned, 12u);
}

TEST(SealedRequest, ReadsThatNeverReachTheDriver) {
  const struct {
    const char* what;
    uint32_t level;
    uint8_t device, function;
    uint16_t offset;
  } cases[] = {
      {"offset 0x100", 0x1C1, 0, 0, 0x100},
      {"device 32", 0x1C1, 32, 0, 0},
      {"function 8", 0x1C1, 0, 8, 0},
      // No port instructions in this build.
      {"Windows 95/98/Me family", 16, 0, 0, 0},
      {"an unrecognised system", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    Rig rig(c.level);
    EXPECT_EQ(rig.rw->ReadPciConfig(1, c.device, c.offset, c.function), 0xFFFFFFFFu) << c.what;
    EXPECT_TRUE(rig.driver.Calls.empty()) << c.what;
  }
}

TEST(SealedRequest, PhysicalReadCarriesTheWholeDestinationAddress) {
  Rig rig;
  rig.driver.Reply.assign(24, 0);
  rig.driver.ReplyLength = 24;
  uint8_t destination[8];
  ASSERT_TRUE(rig.rw->ReadPhysical(destination, 8, 2, 0x00000001FEDC0040ull));
  ASSERT_EQ(rig.driver.Calls.size(), 1u);
  EXPECT_EQ(rig.driver.Calls[0].outSize, 24u);
  const Bytes plain = Unseal(rig.driver.Calls[0].input);
  ASSERT_EQ(plain.size(), 40u);
  EXPECT_EQ(LE32(plain.data()), 0x22E808u);
  const uint8_t* block = plain.data() + 8;
  EXPECT_EQ(LE32(block + 0), 0xFEDC0040u);
  EXPECT_EQ(LE32(block + 4), 0x00000001u);
  EXPECT_EQ(LE32(block + 8), 8u);
  EXPECT_EQ(LE32(block + 12), 2u);
  const uint64_t address = reinterpret_cast<uintptr_t>(destination);
  EXPECT_EQ(LE32(block + 16), static_cast<uint32_t>(address));
  EXPECT_EQ(LE32(block + 20), static_cast<uint32_t>(address >> 32));
  EXPECT_EQ(Bytes(plain.begin() + 32, plain.end()), Bytes(8, 0));
}

TEST(Cf8Address, BuildsTheConfigurationAddressAndDataPort) {
  const struct {
    uint8_t bus, device;
    uint16_t offset;
    uint8_t function;
    uint32_t address;
    uint16_t port;
  } cases[] = {
      {1, 2, 0x2C, 3, 0x8001132C, 0xCFC},  {1, 2, 0x2E, 3, 0x8001132C, 0xCFE},
      {0, 0, 0x00, 0, 0x80000000, 0xCFC},  {0xFF, 31, 0xFF, 7, 0x80FFFFFC, 0xCFF},
      {1, 2, 0x100, 3, 0x81011300, 0xCFC}, {1, 32, 0x2C, 3, 0xFFFFFFFF, 0xCFC},
      {1, 2, 0x2C, 8, 0xFFFFFFFF, 0xCFC},
  };
  Rig rig;
  for (const auto& c : cases) {
    rig.rw->MakeCf8Address(c.bus, c.device, c.offset, c.function);
    EXPECT_EQ(rig.rw->Cf8Address, c.address)
        << int(c.bus) << ' ' << int(c.device) << ' ' << c.offset << ' ' << int(c.function);
    EXPECT_EQ(rig.rw->Cf8DataPort, c.port);
  }
}

// The source without a driver.
class FakeProperties final : public plat::PciConfigSource {
 public:
  int Reads = 0;
  bool ReadDword(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                 uint32_t& value) override {
    ++Reads;
    if (bus == 3 && device == 0 && function == 0 && offset == 0) {
      value = 0x73BF1002;
      return true;
    }
    value = 0x12345678;  // never handed on when the read fails
    return false;
  }
};

TEST(PciIdentity, WithoutTheDriverTheSystemsPropertiesAnswer) {
  auto properties = std::make_unique<FakeProperties>();
  FakeProperties* fake = properties.get();
  TReadWriteSetup setup;
  setup.VersionLevel = 0x1C1;
  setup.Properties = std::move(properties);
  TReadWrite rw(std::move(setup));
  EXPECT_FALSE(rw.UsesDriver());
  EXPECT_EQ(rw.ReadPciConfig(3, 0, 0, 0), 0x73BF1002u);
  EXPECT_EQ(rw.ReadPciConfig(3, 0, 0x2C, 0), 0xFFFFFFFFu);
  EXPECT_EQ(rw.ReadPciConfig(3, 0, 0x100, 0), 0xFFFFFFFFu);
  EXPECT_EQ(fake->Reads, 2);
}

}  // namespace
}  // namespace brumel
