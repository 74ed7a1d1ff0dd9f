// The main of every test program: GoogleTest's, plus a fresh temporary current folder for each
// test, so that no test writes into the tree or sees another's files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "child_output.h"
#include "temp_dir.h"

namespace {

class FolderPerTest : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    dir_ = std::make_unique<testsupport::TempDir>(true);
    testsupport::set_env(testsupport::kTestFolderVariable, dir_->path().string().c_str());
  }
  void OnTestEnd(const ::testing::TestInfo&) override { dir_.reset(); }

 private:
  std::unique_ptr<testsupport::TempDir> dir_;
};

// A death-test child started anew begins in the folder the program started in and gets no
// test events: it works in the folder of the test that started it instead.
void enter_parent_test_folder(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--gtest_internal_run_death_test", 31) != 0) continue;
    if (const char* folder = std::getenv(testsupport::kTestFolderVariable)) {
      std::error_code ec;
      std::filesystem::current_path(folder, ec);
    }
    return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  testsupport::start_dir();
  enter_parent_test_folder(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FolderPerTest);
  return RUN_ALL_TESTS();
}
