#include "core/data_pattern.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "core/io_memory.h"

namespace ferrotick {

namespace {

// splitmix64: fast, and its output is noise to any compressor; it is no
// cipher and needs to be none.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

std::uint64_t SystemSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

constexpr std::size_t kAlignment = 4096;

}  // namespace

const char* PatternName(DataPattern pattern) {
  return pattern == DataPattern::kRandom ? "random" : "letters";
}

std::optional<DataPattern> PatternFromName(std::string_view name) {
  if (name == "letters") return DataPattern::kLetters;
  if (name == "random") return DataPattern::kRandom;
  return std::nullopt;
}

const char* PatternWritten(DataPattern pattern, bool fill) {
  if (pattern == DataPattern::kRandom) return "random";
  return fill ? "zeros" : "letters";
}

RandomData::RandomData(std::size_t writeBytes)
    : RandomData(writeBytes, SystemSeed()) {}

RandomData::RandomData(std::size_t writeBytes, std::uint64_t seed)
    : RandomData(writeBytes, seed, 0, 0) {}

RandomData::RandomData(std::size_t writeBytes, std::uint64_t seed,
                       std::size_t minSlots, std::size_t alignment)
    : m_writeBytes(writeBytes),
      m_stride(alignment == 0
                   ? writeBytes
                   : (writeBytes + alignment - 1) / alignment * alignment),
      m_slots(std::max(writeBytes >= kPoolBytes ? 2 : kPoolBytes / writeBytes,
                       minSlots)),
      m_state(seed),
      m_key(Mix(seed ^ 0x5bd1e9955bd1e995ULL)) {
  const std::size_t align = std::max(alignment, kAlignment);
  const std::size_t bytes = (m_slots * m_stride + align - 1) / align * align;
  m_pool = static_cast<char*>(AllocateIoMemory(align, bytes));
}

RandomData::~RandomData() { std::free(m_pool); }

void RandomData::Refill() {
  const std::size_t bytes = m_slots * m_stride;
  std::size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    m_state += 0x9e3779b97f4a7c15ULL;
    const std::uint64_t word = Mix(m_state);
    std::memcpy(m_pool + i, &word, 8);
  }
  if (i < bytes) {
    const std::uint64_t word = Mix(++m_state);
    std::memcpy(m_pool + i, &word, bytes - i);
  }
}

const char* RandomData::Next() { return Mark(m_write % m_slots); }

const char* RandomData::Mark(std::size_t index) {
  char* slot = m_pool + index * m_stride;
  const std::size_t marks = (m_writeBytes + kMarkEvery - 1) / kMarkEvery;
  for (std::size_t k = 0; k < marks; ++k) {
    // Mix is a bijection: distinct counters give distinct marks.
    const std::uint64_t mark = Mix(m_key ^ (m_write * marks + k));
    const std::size_t at = k * kMarkEvery;
    std::memcpy(slot + at, &mark,
                m_writeBytes - at < 8 ? m_writeBytes - at : 8);
  }
  ++m_write;
  return slot;
}

}  // namespace ferrotick
