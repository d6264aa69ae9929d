// A test file a measurement makes for itself and removes when it ends,
// however it ends. Only the file made here is removed, never one another
// program put in its place meanwhile.
#pragma once

#include <sys/stat.h>

#include <string>

namespace ferrotick {

class ScratchFile {
 public:
  ScratchFile() = default;
  ~ScratchFile();  // removes the file, if it is still the one made here
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // In a folder, a new file with a unique name starting with `prefix`;
  // any other path must name no file yet. False, with errno set, when it
  // cannot be made.
  bool Make(const std::string& path, bool folder, const char* prefix);
  const std::string& Path() const { return m_strPath; }

 private:
  std::string m_strPath;
  struct stat m_info {};
};

}  // namespace ferrotick
