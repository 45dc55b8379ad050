#pragma once
// A fresh private folder per test, removed with everything in it afterwards.

#include <filesystem>
#include <string>

namespace xb::test {

class TempDir {
 public:
  // Made by mkdtemp under the temporary folder ($TMPDIR, else /tmp).
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace xb::test
