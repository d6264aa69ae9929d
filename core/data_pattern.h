// What the write-based runs write. The window keeps the classic pattern:
// the fill writes zeros and each write pass one letter. A measurement of a
// disk needs data that neither compresses nor repeats, or a compressing
// file system, controller or virtual disk stores a fraction of it and the
// rate overstates the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ferrotick {

enum class DataPattern {
  kLetters,  // fill: zeros; write passes: 'A', 'B', ... 'Z', 'A', ...
  kRandom,   // random bytes, every 4 KiB of every write made unique
};

// "letters" or "random".
const char* PatternName(DataPattern pattern);
std::optional<DataPattern> PatternFromName(std::string_view name);
// What a pass of `pattern` wrote, as reported: "zeros" for a fill of
// letters, "letters" for its write passes, "random".
const char* PatternWritten(DataPattern pattern, bool fill);

// Random data for a run's writes. Each write comes from the next slot of a
// pool of several MiB of random bytes, so no compressor that works on a
// record of up to the pool's size finds a repeat, and every 4 KiB of every
// write carries a mark of its own, so no two blocks of a run are alike.
// Refill() makes new bytes outside the timed span; Next() costs one store
// per 4 KiB.
class RandomData {
 public:
  // Writes of `writeBytes`; seeded from the system's random source.
  explicit RandomData(std::size_t writeBytes);
  RandomData(std::size_t writeBytes, std::uint64_t seed);
  // With at least `minSlots` slots, each aligned to `alignment` (a power
  // of two; 0: the slots packed back to back, the pool aligned as the
  // transfer buffer is), for writes queued at once, each from its own slot.
  RandomData(std::size_t writeBytes, std::uint64_t seed, std::size_t minSlots,
             std::size_t alignment);
  ~RandomData();
  RandomData(const RandomData&) = delete;
  RandomData& operator=(const RandomData&) = delete;

  // False when the pool could not be had.
  explicit operator bool() const { return m_pool != nullptr; }
  // New random bytes in the whole pool, as each pass begins (the first
  // before any write).
  void Refill();
  // The bytes of the next write, aligned as the transfer buffer is.
  const char* Next();
  // Stamps `slot` with the marks of the run's next write and returns it;
  // the caller sees that no slot is stamped while a write still uses it.
  const char* Mark(std::size_t slot);
  std::size_t Slots() const { return m_slots; }

  static constexpr std::size_t kMarkEvery = 4096;
  static constexpr std::size_t kPoolBytes = 8 << 20;

 private:
  const std::size_t m_writeBytes;
  const std::size_t m_stride;  // from slot to slot
  const std::size_t m_slots;
  char* m_pool = nullptr;
  std::uint64_t m_state;
  const std::uint64_t m_key;  // this run's own: two runs never write alike
  std::uint64_t m_write = 0;  // writes so far in the run
};

}  // namespace ferrotick
