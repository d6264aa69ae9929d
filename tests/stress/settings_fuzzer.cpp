// libFuzzer target for the settings reading, built only by clang:
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFERROTICK_BUILD_UI=OFF
//   ninja -C build-fuzz settings_fuzzer
//   build-fuzz/tests/stress/settings_fuzzer -max_total_time=60
// The first '|' of an input splits File Size from Buffer Size.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/settings.h"
#include "tests/stress/settings_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace ferrotick;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t bar = input.find('|');
  const std::string_view fileSize = input.substr(0, bar);
  const std::string_view buffer =
      bar == std::string_view::npos ? input : input.substr(bar + 1);
  if (ParseInteger(fileSize) != stress::ModelInteger(fileSize)) {
    __builtin_trap();
  }
  const SettingsReading reading = ReadSettings(fileSize, buffer);
  if (!stress::SameReading(reading, stress::ModelSettings(fileSize, buffer)) ||
      !stress::InRange(reading)) {
    __builtin_trap();
  }
  return 0;
}
