#pragma once

#include <string>

namespace irvelo::test {

// A directory under the system's temporary folder, removed with its contents
// when the object goes away.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "irvelo-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace irvelo::test
