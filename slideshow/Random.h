// The slideshow's pseudo-random generator: one per show, seeded with the
// time when the show starts, so runs differ but tests can fix the seed.
#pragma once

#include <cstdint>

namespace orv {

class TRandom {
 public:
  explicit TRandom(uint32_t seed = 0) : seed_(seed) {}
  void Seed(uint32_t seed) { seed_ = seed; }
  // Next non-negative value (0 .. 2^31 - 1); callers take it modulo n.
  virtual int Next() {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<int>(seed_ >> 1);
  }
  virtual ~TRandom() = default;

 private:
  uint32_t seed_;
};

}  // namespace orv
