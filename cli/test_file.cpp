#include "cli/test_file.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <variant>

#include "cli/output.h"

namespace ferrotick::cli {

bool TestFile::CheckPlace(TestFileReport& report) {
  // A profile transfers with direct I/O only.
  std::variant<TestPlace, PlaceRefusal> checked = CheckTestPlace(
      FullPath(m_options.path), m_options.fileSizeMB.value(),
      CommandName(m_options.command), m_options.command == Command::kProfile);
  if (const auto* refusal = std::get_if<PlaceRefusal>(&checked)) {
    Fail(m_options, refusal->where, refusal->failure.message,
         refusal->failure.detail);
    return false;
  }
  m_place = std::move(std::get<TestPlace>(checked));
  report.folder = m_place.folder;
  report.facts = m_place.facts;
  report.sizeMB = m_options.fileSizeMB.value();
  return true;
}

bool TestFile::Make(TestFileReport& report) {
  const std::string prefix =
      std::string("ferrotick-") + CommandName(m_options.command);
  if (!m_file.Make(m_place.given, m_place.isFolder, prefix.c_str())) {
    Fail(m_options, m_place.given, "cannot create the test file",
         std::strerror(errno));
    return false;
  }
  report.path = m_file.Path();
  return true;
}

}  // namespace ferrotick::cli
