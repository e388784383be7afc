// The GPU I2C link: ISP packets of the channel as the display library's I2C requests, on an
// adapter of a library of the test's own that records every request and answers like the
// controller. The test's enumerator takes the place of the process-wide one while a case runs.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "config/Config.h"
#include "gpu/VideoAdapterBuilder.h"
#include "isp/ISPLdCMD.h"
#include "transport/AdlI2CIO.h"
#include "unit/gpu/FakeAdl.h"

namespace brumel {
namespace {

using test::FakeAdapter;
using test::FakeAdl;
using test::I2cRequest;

const FakeAdapter kCardA{3, 0, 0, "UDID_A", "Card A", 7, 0};
const FakeAdapter kCardB{5, 0, 0, "UDID_B", "Card B", 8, 0};

// A request as the link must make it: the controller's address, 400 kHz, the record's size.
I2cRequest Request(int32_t adapter, int32_t line, int32_t action, int32_t offset, int32_t dataSize,
                   std::vector<uint8_t> written = {}) {
  I2cRequest r;
  r.adapter = adapter;
  r.size = static_cast<int32_t>(sizeof(ADLI2C));
  r.line = line;
  r.address = 0x6C;
  r.offset = offset;
  r.action = action;
  r.speed = 400;
  r.dataSize = dataSize;
  r.written = std::move(written);
  return r;
}
I2cRequest Write(int32_t line, int32_t offset, std::vector<uint8_t> data, int32_t adapter = 0) {
  const auto n = static_cast<int32_t>(data.size());
  return Request(adapter, line, kAdlI2cActionWrite, offset, n, std::move(data));
}
I2cRequest Read(int32_t line, int32_t size, int32_t adapter = 0) {
  return Request(adapter, line, kAdlI2cActionRead, 0, size);
}

class GpuI2cLink : public ::testing::Test {
 protected:
  void SetUp() override { Use({kCardA}); }
  void TearDown() override {
    if (slot_) *slot_ = saved_;
  }

  // Puts an enumerator over these adapters in the process-wide slot.
  void Use(std::vector<FakeAdapter> adapters) {
    if (slot_) *slot_ = saved_;
    builder_.reset();
    adl_.reset();
    fake_ = std::make_unique<FakeAdl>();
    fake_->adapters = std::move(adapters);
    adl_ = fake_->LoadBeside();
    builder_ = std::make_unique<TVideoAdapterBuilder>(adl_.get(), &config_);
    slot_ = GetVideoAdapterBuilder();
    saved_ = *slot_;
    *slot_ = builder_.get();
  }

  // A channel on the GPU I2C link, aimed as the connection step aims it.
  std::unique_ptr<ISPLdCMD> Channel(int line) {
    auto channel = std::make_unique<ISPLdCMD>();
    channel->SetInterface(ISPLdCMD::kGpuI2c);
    channel->SetI2CTarget(0, 0x6C, line);
    return channel;
  }

  TConfig config_{""};
  std::unique_ptr<FakeAdl> fake_;
  std::unique_ptr<TADL> adl_;
  std::unique_ptr<TVideoAdapterBuilder> builder_;
  TVideoAdapterBuilder** slot_ = nullptr;
  TVideoAdapterBuilder* saved_ = nullptr;
};

// Each ISP exchange is one write (the command's low byte as the register, the rest of the
// request as data) and one read of the reply's data plus its four echo bytes from register 0.
TEST_F(GpuI2cLink, IspExchangesAsI2cRequests) {
  struct Case {
    const char* what;
    int line;
    std::function<bool(ISPLdCMD&)> exchange;
    std::vector<I2cRequest> requests;
  };
  const Case cases[] = {
      {"query before a sync (number 18)",
       1,
       [](ISPLdCMD& ch) { return ch.GetVersion() == 0x00010203u; },
       {Write(1, 0xA6, {0x00, 0x12, 0x00, 0x00}), Read(1, 8)}},
      {"sync: 4 data bytes, no reply data",
       4,
       [](ISPLdCMD& ch) { return ch.SyncPacketNumber() && ch.GetPacketNumber() == 3; },
       {Write(4, 0xA4, {0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}), Read(4, 4)}},
      {"4-byte reply after a sync",
       4,
       [](ISPLdCMD& ch) { return ch.SyncPacketNumber() && ch.GetFlashMode() == 0x20; },
       {Write(4, 0xA4, {0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}), Read(4, 4),
        Write(4, 0xCA, {0x00, 0x03, 0x00, 0x00}), Read(4, 8)}},
      {"8-byte reply lands at the packet's start",
       1,
       [](ISPLdCMD& ch) {
         uint32_t area[4] = {};
         return ch.ReadConfig(area) && area[0] == 0xFFFFFF7Fu && area[1] == 0x0001F000u;
       },
       {Write(1, 0xA2, {0x00, 0x12, 0x00, 0x00}), Read(1, 12)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_->i2c.clear();
    auto channel = Channel(c.line);
    EXPECT_TRUE(c.exchange(*channel));
    EXPECT_EQ(fake_->i2c, c.requests);
    EXPECT_FALSE(channel->IsConnected());  // no Connect is needed on this link
  }
}

TEST_F(GpuI2cLink, FailedTransfersFailTheQueries) {
  fake_->i2cResult = -1;
  auto channel = Channel(1);
  EXPECT_FALSE(channel->SyncPacketNumber());
  EXPECT_EQ(channel->GetVersion(), 0u);
  EXPECT_EQ(channel->GetPacketNumber(), 1u);  // the sync set it; no send succeeded
  uint32_t area[4] = {};
  EXPECT_FALSE(channel->ReadRomState(area));
  EXPECT_EQ(area[0], 0xFFFFFFFFu);
}

// Sizes outside the 12-byte packet are refused before the library is called; a refused or
// failed read leaves the packet as it was.
TEST_F(GpuI2cLink, SizesAreChecked) {
  TAdlI2CIO io;
  io.SelectAdapter(0);
  io.SetAddress(0x6C);
  io.SetLine(1);
  uint8_t packet[12] = {0xA6, 0, 1, 0, 9, 9, 9, 9, 9, 9, 9, 9};
  uint8_t before[12];
  std::memcpy(before, packet, sizeof packet);

  for (int32_t size : {0, -1, 13}) {
    int32_t n = size;
    EXPECT_FALSE(io.Write(packet, 12, &n, 5000)) << size;
    EXPECT_EQ(n, size);
    EXPECT_FALSE(io.Read(packet, 12, size, 5000)) << size;
  }
  EXPECT_FALSE(io.Read(packet, 8, 9, 5000));    // past the caller's capacity
  EXPECT_FALSE(io.Read(packet, 64, 13, 5000));  // past the 12-byte transfer buffer
  EXPECT_TRUE(fake_->i2c.empty());

  int32_t n = 5;
  EXPECT_TRUE(io.Write(packet, 12, &n, 5000));
  EXPECT_EQ(n, 4);  // the data count
  EXPECT_EQ(fake_->i2c.back(), Write(1, 0xA6, {0, 1, 0, 9}));
  fake_->i2cResult = -1;
  EXPECT_FALSE(io.Read(packet, 12, 8, 5000));
  EXPECT_EQ(0, std::memcmp(packet, before, sizeof packet));

  auto channel = Channel(1);
  fake_->i2c.clear();
  EXPECT_FALSE(channel->ReadPacket(nullptr, 9, 5000, false));
  EXPECT_TRUE(fake_->i2c.empty());
}

TEST_F(GpuI2cLink, TargetComesFromTheChannelBeforeEveryTransfer) {
  Use({kCardA, kCardB, kCardA});
  TAdlI2CIO io;
  EXPECT_TRUE(io.IsReady());
  EXPECT_EQ(io.GetAdapterIndex(), 0);
  io.SetAddress(0x6C);
  io.SetLine(4);
  uint8_t packet[12] = {0xA6};
  int32_t n = 5;

  io.SelectAdapter(7);  // no kept adapter has it: nothing changes
  EXPECT_EQ(io.GetAdapterIndex(), 0);
  EXPECT_TRUE(io.Write(packet, 12, &n, 0));
  io.SelectAdapter(1);
  EXPECT_EQ(builder_->GetActiveAdapterIndex(), 1);
  n = 5;
  EXPECT_TRUE(io.Write(packet, 12, &n, 0));
  ASSERT_EQ(fake_->i2c.size(), 2u);
  EXPECT_EQ(fake_->i2c[0].adapter, 0);
  EXPECT_EQ(fake_->i2c[1].adapter, 1);

  io.SetAddress(0xFF);  // no address: nothing goes out
  n = 5;
  EXPECT_FALSE(io.Write(packet, 12, &n, 0));
  EXPECT_EQ(fake_->i2c.size(), 2u);
}

TEST_F(GpuI2cLink, NoAdapterNoTransfer) {
  Use({});
  TAdlI2CIO io;
  EXPECT_TRUE(io.IsReady());  // the enumerator exists, with nothing in it
  EXPECT_EQ(io.GetAdapterIndex(), -1);
  auto channel = Channel(1);
  EXPECT_FALSE(channel->SyncPacketNumber());
  EXPECT_EQ(channel->GetVersion(), 0u);
  EXPECT_TRUE(fake_->i2c.empty());
}

TEST_F(GpuI2cLink, BlockTransfersCarryTheCountFirst) {
  IVideoAdapter* adapter = builder_->GetActiveAdapter();
  ASSERT_NE(adapter, nullptr);
  const uint8_t data[3] = {0xA6, 0x00, 0x05};
  EXPECT_TRUE(adapter->I2CWriteBlock(0x6C, 0x10, data, 3));
  ASSERT_EQ(fake_->i2c.size(), 1u);
  EXPECT_EQ(fake_->i2c[0], Write(4, 0x10, {3, 0xA6, 0x00, 0x05}));

  uint8_t raw[4] = {};
  ASSERT_TRUE(adapter->I2CRead(0x6C, 0, raw, 4));
  uint8_t block[3] = {};
  EXPECT_TRUE(adapter->I2CReadBlock(0x6C, 0, block, 3));
  EXPECT_EQ(fake_->i2c.back(), Read(4, 4));
  EXPECT_EQ(0, std::memcmp(block, raw + 1, 3));  // the count byte is dropped

  fake_->i2c.clear();
  uint8_t big[256] = {};
  EXPECT_FALSE(adapter->I2CReadBlock(0x6C, 0, block, 0));
  EXPECT_FALSE(adapter->I2CReadBlock(0x6C, 0, nullptr, 3));
  EXPECT_FALSE(adapter->I2CWriteBlock(0x6C, 0, data, 0));
  EXPECT_FALSE(adapter->I2CWriteBlock(0x6C, 0, nullptr, 3));
  EXPECT_FALSE(adapter->I2CWriteBlock(0x6C, 0, big, 256));  // the count is one byte
  EXPECT_FALSE(adapter->I2CWrite(0x6C, 0, nullptr, 2));
  EXPECT_TRUE(fake_->i2c.empty());
  EXPECT_TRUE(adapter->I2CWriteBlock(0x6C, 0, big, 255));
  EXPECT_EQ(fake_->i2c.back().dataSize, 256);
}

}  // namespace
}  // namespace brumel
