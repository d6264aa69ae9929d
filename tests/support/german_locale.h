// A real German locale (decimal comma) for the tests: the system's
// de_DE.UTF-8, or one built with localedef into a folder that LOCPATH then
// names for this process and its children.
#pragma once

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace ferrotick::testing {

inline constexpr char kGermanLocale[] = "de_DE.UTF-8";

inline bool GermanLocaleLoads() {
  const locale_t german = newlocale(LC_ALL_MASK, kGermanLocale, locale_t{});
  if (!german) return false;
  const bool comma = std::strcmp(nl_langinfo_l(RADIXCHAR, german), ",") == 0;
  freelocale(german);
  return comma;
}

// Makes the locale loadable, building it in `folder` if need be (the
// folder must outlive its use). Empty on success, otherwise why not, for a
// test to skip with.
inline std::string PrepareGermanLocale(const std::string& folder) {
  if (GermanLocaleLoads()) return {};
  const std::string command = "localedef -i de_DE -f UTF-8 '" + folder + "/" +
                              kGermanLocale + "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ::setenv("LOCPATH", folder.c_str(), 1);
  if (GermanLocaleLoads()) return {};
  ::unsetenv("LOCPATH");
  return "no German locale here, and localedef could not build one (status " +
         std::to_string(status) + "; Debian package: locales)";
}

}  // namespace ferrotick::testing
