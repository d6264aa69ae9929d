// A second, plain reading of the two settings, written apart from
// core/settings.cpp, for the random and libFuzzer tests to hold it against.
#pragma once

#include <optional>
#include <string_view>

#include "core/settings.h"

namespace ferrotick::stress {

// Blanks, at most one sign, decimal digits, blanks; the value must fit in
// a long long.
inline std::optional<long long> ModelInteger(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\n\r\v\f";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t last = text.find_last_not_of(kBlanks);
  std::string_view body = text.substr(first, last - first + 1);
  bool negative = false;
  if (body[0] == '+' || body[0] == '-') {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (body.empty() || body.find_first_not_of("0123456789") != body.npos) {
    return std::nullopt;
  }
  const std::size_t nonZero = body.find_first_not_of('0');
  if (nonZero == std::string_view::npos) return 0;
  body.remove_prefix(nonZero);
  // Compare the digits with the limits as text, then convert.
  const std::string_view limit =
      negative ? "9223372036854775808" : "9223372036854775807";
  if (body.size() > limit.size() ||
      (body.size() == limit.size() && body > limit)) {
    return std::nullopt;
  }
  unsigned long long magnitude = 0;
  for (char c : body) magnitude = magnitude * 10 + (c - '0');
  if (!negative) return static_cast<long long>(magnitude);
  return magnitude == 9223372036854775808ULL
             ? static_cast<long long>(-9223372036854775807LL - 1)
             : -static_cast<long long>(magnitude);
}

// File Size, then Buffer Size; the first field that fails is the answer.
inline SettingsReading ModelSettings(std::string_view fileSizeText,
                                     std::string_view bufferText) {
  SettingsReading reading;
  const std::optional<long long> fileSize = ModelInteger(fileSizeText);
  if (!fileSize) {
    reading.failed = SettingField::kFileSize;
    reading.message = kNeedIntegerMessage;
    return reading;
  }
  if (*fileSize < 1 || *fileSize > 8192) {
    reading.failed = SettingField::kFileSize;
    reading.message = kFileSizeRangeMessage;
    return reading;
  }
  const std::optional<long long> buffer = ModelInteger(bufferText);
  if (!buffer) {
    reading.failed = SettingField::kBufferSize;
    reading.message = kNeedIntegerMessage;
    return reading;
  }
  if (*buffer < 1 || *buffer > 1024) {
    reading.failed = SettingField::kBufferSize;
    reading.message = kBufferRangeMessage;
    return reading;
  }
  reading.fileSizeMB = static_cast<int>(*fileSize);
  reading.bufferKB = static_cast<int>(*buffer);
  return reading;
}

// The same reading, field by field; a run may only get the values when
// `failed` is kNone, and then they are in range.
inline bool SameReading(const SettingsReading& a, const SettingsReading& b) {
  if (a.failed != b.failed || a.message != b.message) return false;
  return a.failed != SettingField::kNone ||
         (a.fileSizeMB == b.fileSizeMB && a.bufferKB == b.bufferKB);
}

inline bool InRange(const SettingsReading& reading) {
  return reading.failed != SettingField::kNone ||
         (reading.fileSizeMB >= 1 && reading.fileSizeMB <= 8192 &&
          reading.bufferKB >= 1 && reading.bufferKB <= 1024);
}

}  // namespace ferrotick::stress
