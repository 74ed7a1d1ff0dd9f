// Binary records against the C library's streams: the same random reads, writes, seeks, flushes
// and truncations on both, with positions and final contents compared. Also the out-of-memory
// sweep of opening and closing.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "file_test_util.h"
#include "oom_sweep.h"
#include "runtime/diag/trap.h"
#include "runtime/file/pfu.h"
#include "runtime/mem/mem.h"
#include "runtime/xar/xar.h"

namespace {

enum class Last { None, Read, Write };

class Model {
 public:
  explicit Model(int buffer_size) : buffer_size_(buffer_size) {
    EXPECT_EQ(pfu_fopen("pfu.bin", 7, PFU_Binary, buffer_size, &file_), PFU_SUCCESS);
    oracle_ = fopen("oracle.bin", "w+b");
    set_oracle_buffer();
  }
  ~Model() {
    if (file_) pfu_fclose(&file_);
    if (oracle_) fclose(oracle_);
  }

  void step(std::mt19937& random) {
    const int what = (int)(random() % 100);
    if (what < 30)
      write(random);
    else if (what < 60)
      read(random);
    else if (what < 78)
      seek(random);
    else if (what < 88)
      flush();
    else if (what < 94)
      EXPECT_EQ(pfu_ftell(file_), ftell(oracle_));
    else
      truncate(random);
  }

  void finish() {
    ASSERT_EQ(pfu_fclose(&file_), PFU_SUCCESS);
    fclose(oracle_);
    oracle_ = nullptr;
    EXPECT_EQ(testsupport::read_file("pfu.bin"), testsupport::read_file("oracle.bin"));
  }

 private:
  // Request sizes around the buffer's halves, so every path of the buffering is taken.
  int request_size(std::mt19937& random) const {
    const int limits[] = {
        1, 2, buffer_size_ / 2, buffer_size_ / 2 + 1, buffer_size_, 2 * buffer_size_ + 3, 700};
    const int base = limits[random() % 7];
    return std::max(1, base + (int)(random() % 3) - 1);
  }

  long size() {
    const long here = ftell(oracle_);
    fseek(oracle_, 0, SEEK_END);
    const long end = ftell(oracle_);
    fseek(oracle_, here, SEEK_SET);
    return end;
  }

  void write(std::mt19937& random) {
    std::string data((size_t)request_size(random), 0);
    for (char& c : data) c = (char)random();
    if (last_ == Last::Read) {
      EXPECT_EQ(pfu_fwrite(file_, (int)data.size(), data.data()), PFU_TRAP);
      return;
    }
    ASSERT_EQ(pfu_fwrite(file_, (int)data.size(), data.data()), PFU_SUCCESS);
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), oracle_), data.size());
    last_ = Last::Write;
  }

  void read(std::mt19937& random) {
    const int n = request_size(random);
    std::vector<char> mine((size_t)n), theirs((size_t)n);
    int got = -1;
    const int status = pfu_fread(file_, n, &got, mine.data());
    if (last_ == Last::Write) {
      EXPECT_EQ(status, PFU_TRAP);
      return;
    }
    const size_t expected = fread(theirs.data(), 1, (size_t)n, oracle_);
    ASSERT_EQ(got, (int)expected);
    EXPECT_EQ(status, expected > 0 ? PFU_SUCCESS : PFU_EOF);
    EXPECT_EQ(std::string(mine.data(), (size_t)got), std::string(theirs.data(), expected));
    last_ = Last::Read;
  }

  void seek(std::mt19937& random) {
    const long target = (long)(random() % (size() + 12));
    const int origin = (int)(random() % 3);
    const long base = origin == PFU_SEEK_SET ? 0 : origin == PFU_SEEK_CUR ? ftell(oracle_) : size();
    ASSERT_EQ(pfu_fseek(file_, target - base, origin), PFU_SUCCESS);
    ASSERT_EQ(fseek(oracle_, target - base,
                    origin == PFU_SEEK_SET   ? SEEK_SET
                    : origin == PFU_SEEK_CUR ? SEEK_CUR
                                             : SEEK_END),
              0);
    last_ = Last::None;
    EXPECT_EQ(pfu_ftell(file_), target);
  }

  void flush() {
    ASSERT_EQ(pfu_fflush(file_), PFU_SUCCESS);
    // After reading, the C library needs a seek before the next write.
    if (last_ == Last::Read)
      fseek(oracle_, 0, SEEK_CUR);
    else
      fflush(oracle_);
    last_ = Last::None;
  }

  // The C library has no truncation of a stream: the oracle file is rewritten shorter and
  // reopened at the new end. Only shortening: what an extension holds is up to the system.
  void truncate(std::mt19937& random) {
    const long length = (long)(random() % (size() + 1));
    ASSERT_EQ(pfu_ftruncate(file_, length), PFU_SUCCESS);
    fclose(oracle_);
    const std::string bytes = testsupport::read_file("oracle.bin");
    filetest::write_bytes("oracle.bin", bytes.substr(0, (size_t)length));
    oracle_ = fopen("oracle.bin", "r+b");
    set_oracle_buffer();
    fseek(oracle_, length, SEEK_SET);
    last_ = Last::None;
    EXPECT_EQ(pfu_ftell(file_), length);
  }

  void set_oracle_buffer() {
    if (buffer_size_ == 0)
      setvbuf(oracle_, nullptr, _IONBF, 0);
    else
      setvbuf(oracle_, nullptr, _IOFBF, (size_t)std::max(2, buffer_size_));
  }

  int buffer_size_;
  PF_File_Ptr file_ = nullptr;
  FILE* oracle_ = nullptr;
  Last last_ = Last::None;
};

}  // namespace

TEST(PfuModel, BinaryRecordMatchesTheCLibraryStream) {
  for (int buffer_size : {0, 1, 7, 512, 65536}) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      SCOPED_TRACE("buffer " + std::to_string(buffer_size) + " seed " + std::to_string(seed));
      std::mt19937 random(seed * 7919u + (unsigned)buffer_size);
      Model model(buffer_size);
      for (int i = 0; i < 400 && !::testing::Test::HasFatalFailure(); ++i) model.step(random);
      if (!::testing::Test::HasFatalFailure()) model.finish();
    }
  }
}

// The trap context keeps its frame list from the first push on: made here, before the sweep counts.
static void make_trap_frame_list() {
  jmp_buf resume;
  if (setjmp(resume) == 0) trap_push(resume, TRAP_CLASS_SERIOUS_ERROR);
  trap_pop();
}

TEST(PfuModel, OpeningRecoversWhenMemoryRunsOut) {
  make_trap_frame_list();
  pfu_set_dbg_list(1);
  PF_File_Ptr kept = nullptr;  // a record opened before keeps the list allocated
  ASSERT_EQ(pfu_fopen("kept.bin", 6, PFU_Binary, 16, &kept), PFU_SUCCESS);
  // Each run opens (the list grows), writes and closes; a run cut short must leave the list as
  // it was and no record behind. A caller owns what it opened: its own trap cleanup closes it.
  // The handle's release is checked by reopening the file, which is opened without sharing.
  static PF_File_Ptr file = nullptr;
  file = nullptr;
  EXPECT_OOM_SAFE(
      [&] {
        file = nullptr;
        trap_cleanup_add([](intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                            intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                            intptr_t, intptr_t) { pfu_fclose(&file); },
                         nullptr);
        for (int i = 0; i < 12; ++i) {
          if (pfu_fopen("oom.bin", 6, PFU_Binary, 64, &file) != PFU_SUCCESS) return;
          pfu_fputs(file, "text");
          pfu_fclose(&file);
        }
        static char newlines[5000];
        memset(newlines, '\n', sizeof newlines);
        pfu_fopen("oom.bin", 7, PFU_Text, 9000, &file);
        pfu_fwrite(file, 5000, newlines);
        pfu_fclose(&file);
      },
      [&] {
        PF_File_Ptr* list = pfu_dbg_list();
        EXPECT_EQ(XAR_COUNT(&list), 1);
        EXPECT_EQ(list[0], kept);
        EXPECT_EQ(xar_is_invalid(&list), 0);
        PF_File_Ptr again = nullptr;
        EXPECT_EQ(pfu_fopen("oom.bin", 7, PFU_Binary, 0, &again), PFU_SUCCESS);
        pfu_fclose(&again);
      });
  pfu_fclose(&kept);
  pfu_set_dbg_list(0);
}
