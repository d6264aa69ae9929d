#include "core/settings.h"

#include <limits>

namespace ferrotick {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
         c == '\f';
}

}  // namespace

std::optional<long long> ParseInteger(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::size_t digitsStart = pos;
  // Accumulate as a negative number so that the most negative value fits.
  long long value = 0;
  constexpr long long kMin = std::numeric_limits<long long>::min();
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    const int digit = text[pos] - '0';
    if (value < (kMin + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
    ++pos;
  }
  if (pos == digitsStart) return std::nullopt;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos != text.size()) return std::nullopt;
  if (!negative) {
    if (value == kMin) return std::nullopt;
    value = -value;
  }
  return value;
}

namespace {

// Fills in the failure for one field, or stores its value.
bool ReadField(std::string_view text, int low, int high,
               std::string_view rangeMessage, SettingField field,
               SettingsReading& reading, int& value) {
  const std::optional<long long> parsed = ParseInteger(text);
  if (!parsed) {
    reading.failed = field;
    reading.message = kNeedIntegerMessage;
    return false;
  }
  if (*parsed < low || *parsed > high) {
    reading.failed = field;
    reading.message = rangeMessage;
    return false;
  }
  value = static_cast<int>(*parsed);
  return true;
}

}  // namespace

SettingsReading ReadSettings(std::string_view fileSizeText,
                             std::string_view bufferText) {
  SettingsReading reading;
  if (!ReadField(fileSizeText, kMinFileSizeMB, kMaxFileSizeMB,
                 kFileSizeRangeMessage, SettingField::kFileSize, reading,
                 reading.fileSizeMB)) {
    return reading;
  }
  ReadField(bufferText, kMinBufferKB, kMaxBufferKB, kBufferRangeMessage,
            SettingField::kBufferSize, reading, reading.bufferKB);
  return reading;
}

}  // namespace ferrotick
