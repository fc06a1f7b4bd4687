// Test support: a temporary directory removed with everything in it.
#ifndef EKVISION_TESTS_TEMPDIR_H
#define EKVISION_TESTS_TEMPDIR_H

#include <cstdlib>
#include <filesystem>
#include <string>

namespace ektest {

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ekvision-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The path of @p name inside the directory.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace ektest

#endif  // EKVISION_TESTS_TEMPDIR_H
