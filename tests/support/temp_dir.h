// Temporary folders for tests. Every test of a program linked with the shared test main runs in
// a fresh temporary folder of its own, which is removed after the test; TempDir makes further
// ones inside a test. Only the process that made a folder removes it: a child that ends with
// exit() runs the destructors of the copies it inherited.
#pragma once
#include <filesystem>
#include <string>

namespace testsupport {

// A new, empty folder under the system's temporary folder, removed with everything in it when
// the object goes. With `enter`, it is also the current folder until then.
class TempDir {
 public:
  explicit TempDir(bool enter = false);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
  int owner_;  // the process that made the folder
};

// The environment variable naming the running test's folder, for the children it starts.
inline constexpr const char* kTestFolderVariable = "KEL_TEST_CHILD_DIR";

// The current folder the test program started in.
const std::filesystem::path& start_dir();

}  // namespace testsupport
