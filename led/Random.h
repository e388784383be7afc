// The tool's own pseudo-random generator, the same on every target: a 32-bit linear
// congruential generator whose results are 15-bit values 0..32767. Reseeding with the same
// value restarts the same sequence. The C library's rand is never used, so a seed gives the
// same draws whatever run-time library the tool is built with.
#pragma once
#include <cstdint>

namespace brumel {

class TRandom {
 public:
  static constexpr int32_t kMax = 32767;

  explicit TRandom(uint32_t seed = 1) : state_(seed) {}

  void Seed(uint32_t seed) { state_ = seed; }
  // Next value, 0..kMax.
  int32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int32_t>((state_ >> 16) & 0x7FFFu);
  }

 private:
  uint32_t state_;
};

// Scales a generator value r (0..kMax) to 0..n-1: floor(r * n / 32768).
inline int32_t ScaleDraw(int32_t r, int32_t n) {
  return static_cast<int32_t>((static_cast<int64_t>(r) * n) / (TRandom::kMax + 1));
}

// The seed of a round: current time in whole seconds plus the process id.
uint32_t TimeAndProcessSeed();

}  // namespace brumel
