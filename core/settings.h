// Reading and checking the two settings as typed.
#pragma once

#include <optional>
#include <string_view>

namespace ferrotick {

inline constexpr int kMinFileSizeMB = 1;
inline constexpr int kMaxFileSizeMB = 8192;
inline constexpr int kMinBufferKB = 1;
inline constexpr int kMaxBufferKB = 1024;
inline constexpr int kDefaultFileSizeMB = 32;
inline constexpr int kDefaultBufferKB = 128;

// A decimal integer with optional surrounding blanks and one leading sign.
// Nothing when the text is no integer or does not fit in a long long.
std::optional<long long> ParseInteger(std::string_view text);

enum class SettingField { kNone, kFileSize, kBufferSize };

struct SettingsReading {
  SettingField failed = SettingField::kNone;  // the first field that failed
  std::string_view message;                   // what to show for it
  int fileSizeMB = 0;                         // valid when failed == kNone
  int bufferKB = 0;
};

// Reads File Size, then Buffer Size; stops at the first that fails.
SettingsReading ReadSettings(std::string_view fileSizeText,
                             std::string_view bufferText);

inline constexpr std::string_view kNeedIntegerMessage =
    "Please enter an integer.";
inline constexpr std::string_view kFileSizeRangeMessage =
    "Please enter an integer between 1 and 8192.";
inline constexpr std::string_view kBufferRangeMessage =
    "Please enter an integer between 1 and 1024.";

}  // namespace ferrotick
