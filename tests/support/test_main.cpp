// The main of every test program: GoogleTest's, plus a fresh temporary current folder for each
// test, so that no test writes into the tree or sees another's files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "temp_dir.h"

namespace {

class FolderPerTest : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override { dir_ = std::make_unique<testsupport::TempDir>(true); }
  void OnTestEnd(const ::testing::TestInfo&) override { dir_.reset(); }

 private:
  std::unique_ptr<testsupport::TempDir> dir_;
};

}  // namespace

int main(int argc, char** argv) {
  testsupport::start_dir();
  ::testing::InitGoogleMock(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FolderPerTest);
  return RUN_ALL_TESTS();
}
