// A stand-in for the display library in the fuzz build. Every record it returns, every count
// and every result code is read from the fuzz input, front to back, in the order the tool makes
// its calls; a value the input leaves to it (or gives no byte for) is that of a healthy library:
// two adapters on their own buses, the first of tuning generation 7, the second of generation 8,
// with plausible tuning values. So a short input already reaches every operation, and each byte
// changes one decision or one value.
//
// Records are filled only within what the caller passed: a levels record up to its own size
// field, the adapter table up to the byte count given. Lists are made through the allocation
// callback given at context creation and hold at least as many entries as the tool may read
// (min(count, 29) for a count of 1 or more), whatever count they report.
//
// It is handed to the tool's loader in place of the system's loader (the loader's test seam),
// so the tool and the stand-in share the process.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "gpu/ADL.h"

namespace fuzz {

// The bytes the library reads its answers from, front to back.
class StandInScript {
 public:
  StandInScript(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  bool Empty() const { return left_ == 0; }
  // The next byte; nullopt-like: `fallback` once the input is used up.
  uint8_t Byte(uint8_t fallback = 0) {
    if (!left_) return fallback;
    --left_;
    return *data_++;
  }
  uint32_t Word(uint32_t fallback = 0) {
    if (left_ < 4) return fallback;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
  }
  // A value of a record: most often the healthy library's, else a small, medium, any 32-bit
  // or small negative value.
  int32_t Value(int32_t healthy);
  // A result code: mostly the healthy one (0), sometimes a failure.
  int Result(int healthy = 0);

 private:
  const uint8_t* data_;
  size_t left_;
};

// Makes `script` the source of every answer until the next call (null: none); entry points
// whose bit is set in missingMask (bit i: the i-th that can be missing) are absent from
// libraries loaded afterwards.
void UseStandInScript(StandInScript* script, uint32_t missingMask);

// The loader over the stand-in, with its lines dropped.
std::unique_ptr<brumel::TADL> LoadStandInDisplayLibrary();

}  // namespace fuzz
