// Failures of the file layer, injected and survived: every writer in one table, swept with the
// N-th call of the platform file layer failing (io_sweep), then run against a full device and a
// read-only folder. Each must tell its caller, keep what an existing file held where it replaces
// or extends it, and leak no handle and no block.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "child_output.h"
#include "binding/host_binding.h"
#include "host/host.h"
#include "io_sweep.h"
#include "mirax_model.h"
#include "platform/program.h"
#include "runtime/diag/diag.h"
#include "runtime/file/pfu.h"
#include "runtime/mem/mem.h"
#include "runtime/mem/memdebug.h"
#include "runtime/tolcmp/tolcmp.h"
#include "runtime/version/version.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#endif

#ifndef _WIN32
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using testsupport::read_file;

void write_bytes(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// What a writer promises an existing file when it fails.
enum class Keeps {
  Rest,    // writes over the start: the file is not shorter than before
  Prefix,  // appends: the file still starts with what it held
  Whole,   // replaces: the file holds what it held, or the complete new content
};

struct Writer {
  const char* name;
  const char* file;  // the name the writer always writes, in the folder given; null: any name
  Keeps keeps;
  std::string old;  // what the file holds before each run
  // Writes to `target`: true when it told its caller that something failed.
  std::function<bool(const char* target)> write;
  // Keeps::Whole: whether the file holds the complete new content.
  std::function<bool(const std::string&)> complete = nullptr;
};

// Text sent through a stream, ended by the byte 4, and what a text file receives of it.
std::string stream_text() {
  std::string text;
  for (int i = 0; i < 80; ++i) text += "received " + std::to_string(i) + "\n";
  return text;
}

bool pfu_in_place(const char* target) {
  PF_File_Ptr file = nullptr;
  int status = pfu_fopen(target, 2, PFU_Text, 64, &file);
  if (status != PFU_SUCCESS) return true;
  for (int i = 0; i < 200 && status == PFU_SUCCESS; ++i) status = pfu_fputs(file, "line\n");
  const std::string direct(600, 'd');
  if (status == PFU_SUCCESS) status = pfu_fwrite(file, (int)direct.size(), direct.data());
  const int closed = pfu_fclose(&file);
  return status != PFU_SUCCESS || closed != PFU_SUCCESS;
}

bool pfu_append(const char* target) {
  PF_File_Ptr file = nullptr;
  int status = pfu_fopen(target, 11, PFU_Binary, 16, &file);
  if (status != PFU_SUCCESS) return true;
  for (int i = 0; i < 20 && status == PFU_SUCCESS; ++i) status = pfu_fwrite(file, 5, "tail|");
  if (status == PFU_SUCCESS)
    status = pfu_fwrite(file, 40, "0123456789012345678901234567890123456789");
  const int closed = pfu_fclose(&file);
  return status != PFU_SUCCESS || closed != PFU_SUCCESS;
}

bool pfu_receive(const char* target) {
  PF_File_Ptr stream = nullptr;
  if (pfu_fopen("stream.bin", 1, PFU_Binary, 32, &stream) != PFU_SUCCESS) return true;
  const int status = pfu_receive_file(stream, target);
  const int closed = pfu_fclose(&stream);
  return status != PFU_SUCCESS || closed != PFU_SUCCESS;
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// The error log: told when a message that the log did not take came on the standard output.
bool error_log(const char* target) {
  ::testing::internal::CaptureStdout();
  debug_setup(1);
  message_log_file_set(target);
  for (int i = 0; i < 3; ++i) report_info("io_sweep", "message %d", i);
  message_log_file_set(nullptr);
  debug_setup(0);
  // A device is not read back: /dev/full reads as endless zeros.
  const std::string out = ::testing::internal::GetCapturedStdout(),
                    log = platform_path_replaceable(target) ? read_file(target) : "";
  bool lost = false;
  for (const char* message : {"message 0", "message 1", "message 2"})
    if (out.find(message) == std::string::npos && log.find(message) == std::string::npos)
      lost = true;
  return !lost && out.find("message") != std::string::npos;
}

// The unreleased-memory file, listing two blocks numbered while the mode is on.
bool unreleased_memory(const char* target) {
  memdebug_set_file_name("no_such.memory");
  memdebug_start();
  void* blocks[2] = {getmem(100), getmem(200)};
  memdebug_set_file_name(target);
  ::testing::internal::CaptureStdout();
  memdebug_write();
  const std::string out = ::testing::internal::GetCapturedStdout();
  memdebug_stop();
  memdebug_set_file_name(nullptr);
  for (void* block : blocks) rlsmem(block);
  return out.find("was not written") != std::string::npos;
}

// The report of the CsysList command, run by mirax's host on the module linked into this program
// in the folder of `target`: told when the host learns that no report was written.
bool csyspos_report(const char* target) {
  const std::string path = target;
  testsupport::FixedAnswers answers;
  answers.reply = u"cs0";
  mirax::SessionOptions options;
  // The host reads the menu and message files of the text tree built beside this program's folder.
  char program[1024];
  if (platform_program_path(program, sizeof program) == 0) return false;
  options.text_root =
      (std::filesystem::path(program).parent_path() / KEL_IO_BUILD_ROOT_REL).string();
  options.directory = path.substr(0, path.size() - strlen("csyspos.txt"));
  const mirax::Assembly assembly = testsupport::AssemblyBuilder()
                                       .model("ASM", mirax::ModelType::assembly)
                                       .component("P1")
                                       .component("P2", testsupport::at({1, 2, 3}))
                                       .model("P1")
                                       .csys("CS0", testsupport::at({4, 5, 6}))
                                       .model("P2")
                                       .csys("cs0")
                                       .build();
  const std::filesystem::path here = std::filesystem::current_path();
  std::ostringstream out, err;
  const mirax::SessionResult result = mirax::run_module({user_initialize_plus, user_terminate_plus},
                                                        options, assembly, answers, out, err);
  std::filesystem::current_path(here);
  return !result.report_written;
}

// The tolerance comparison's report of two files that differ, appended to `target`: told when
// the comparison says its report is not complete.
bool tolerance_report(const char* target) {
  tolerance_report_file_set(target);
  const int console = tolerance_console_set(0);
  const int result = tolerance_compare_files("numbers_1.txt", "numbers_2.txt", 0, 0, 1e-6, 1e-6);
  tolerance_console_set(console);
  tolerance_report_file_set(nullptr);
  return result != TOLCMP_DIFFERENT || !tolerance_report_written();
}

// The versioned writers, given version 1 of a file as `target`: a stream opened on the file's next
// version ("w") or on its highest ("a"), and a descriptor on the file itself.
std::u16string wide_of(const std::string& text) { return std::u16string(text.begin(), text.end()); }

bool versioned_stream(const char* target, const char* mode) {
  const std::string path = target, base = path.substr(0, path.size() - strlen(".1"));
  std::filesystem::remove(base + ".2");
  FILE* stream = kel_spg_fopen(wide_of(base).c_str(), 0, mode);
  if (!stream) return true;
  bool written = true;
  for (int i = 0; i < 50 && written; ++i) written = platform_stream_write(stream, "version|", 8);
  return !platform_stream_close(stream) || !written;
}

bool versioned_descriptor(const char* target, int flags) {
  const int fd = versioned_open(wide_of(target).c_str(), flags, 0644);
  if (fd < 0) return true;
  const bool written = write(fd, "descriptor|", 11) == 11;
  return !platform_fd_close(fd) || !written;
}

bool is_csyspos_report(const std::string& now) {
  return now.find(" Csys Name(Listing) = cs0 ") == 0 && now.find("1 P2 PART") != std::string::npos;
}

std::vector<Writer> writers() {
  return {
      {"pfu write in place", nullptr, Keeps::Rest, std::string(4000, 'o'), pfu_in_place},
      {"pfu append", nullptr, Keeps::Prefix, "old line\r\nold line\r\n", pfu_append},
      {"pfu_receive_file", nullptr, Keeps::Whole, crlf("old text\n"), pfu_receive,
       [](const std::string& now) { return now == crlf(stream_text()); }},
      {"error log", nullptr, Keeps::Rest, "", error_log},
      {"tolerance comparison report", nullptr, Keeps::Prefix, "old report\n", tolerance_report},
      {"csyspos.txt report", "csyspos.txt", Keeps::Whole, "old report\n", csyspos_report,
       is_csyspos_report},
      {"versioned next version", "x.abc.1", Keeps::Whole, "version 1\n",
       [](const char* target) { return versioned_stream(target, "w"); },
       [](const std::string&) { return false; }},
      {"versioned append", "x.abc.1", Keeps::Prefix, "version 1\n",
       [](const char* target) { return versioned_stream(target, "a"); }},
      {"versioned_open in place", nullptr, Keeps::Rest, std::string(100, 'o'),
       [](const char* target) { return versioned_descriptor(target, O_WRONLY | O_CREAT); }},
      {"versioned_open append", nullptr, Keeps::Prefix, "old\n",
       [](const char* target) { return versioned_descriptor(target, O_WRONLY | O_APPEND); }},
      {"unreleased-memory file", nullptr, Keeps::Whole, "1 2\n", unreleased_memory,
       [](const std::string& now) {
         return now.find(" 100\n") != std::string::npos && now.find(" 200\n") != std::string::npos;
       }},
  };
}

// What is wrong with `target` after `writer` failed, or "".
std::string kept(const Writer& writer, const std::string& target) {
  const std::string now = read_file(target);
  switch (writer.keeps) {
    case Keeps::Rest:
      if (now.size() < writer.old.size()) return "shorter: " + std::to_string(now.size());
      break;
    case Keeps::Prefix:
      if (now.compare(0, writer.old.size(), writer.old) != 0) return "lost its start: " + now;
      break;
    case Keeps::Whole:
      if (now != writer.old && !writer.complete(now))
        return "half-written: " + std::to_string(now.size()) + " bytes";
      break;
  }
  return "";
}

// The inputs of the writers: a text for the streams, two files of numbers that differ.
void prepare_stream() {
  write_bytes("stream.bin", stream_text() + "\x04");
  write_bytes("numbers_1.txt", "1.0 2.0\n3.0 4.0\n5.0\n");
  write_bytes("numbers_2.txt", "1.0 2.5\n3.0 4.0\n");
}

}  // namespace

TEST(IoSweep, EveryWriterSurvivesEveryFailingCall) {
  for (const Writer& writer : writers()) {
    for (int error : {EIO, ENOSPC}) {
      SCOPED_TRACE(std::string(writer.name) + ", errno " + std::to_string(error));
      const std::string target = writer.file ? writer.file : "target";
      testsupport::IoSweep sweep;
      sweep.prepare = [&] {
        prepare_stream();
        write_bytes(target, writer.old);
      };
      sweep.op = [&] { return writer.write(target.c_str()); };
      sweep.check = [&] { return kept(writer, target); };
      EXPECT_IO_SAFE(sweep, error);
    }
  }
}

TEST(IoSweep, WritersToAFullDeviceAreTold) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device that is always full";
#else
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no writable /dev/full here";
  prepare_stream();
  for (const Writer& writer : writers()) {
    if (writer.file) continue;  // a writer of a fixed name cannot be pointed at the device
    const int handles = platform_io_open_handles();
    EXPECT_TRUE(writer.write("/dev/full")) << writer.name;
    EXPECT_EQ(platform_io_open_handles(), handles) << writer.name;
    // The device is written to, never replaced by a file.
    ASSERT_FALSE(platform_path_replaceable("/dev/full")) << writer.name;
  }
#endif
}

TEST(IoSweep, WritersToAReadOnlyFolderAreToldAndChangeNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder's read-only attribute does not keep files from being made or changed "
                  "in it on Windows";
#else
  prepare_stream();
  ASSERT_EQ(mkdir("ro", 0755), 0);
  // The super-user passes every permission check; with another file-system user it does not.
  const bool root = geteuid() == 0;
  for (const Writer& writer : writers()) {
    const std::string target = std::string("ro/") + (writer.file ? writer.file : "target");
    write_bytes(target, writer.old);
    chmod(target.c_str(), 0444);
    chmod("ro", 0555);
    if (root) setfsuid(65534);
    const bool told = writer.write(target.c_str());
    if (root) setfsuid(0);
    chmod("ro", 0755);
    EXPECT_TRUE(told) << writer.name;
    EXPECT_EQ(read_file(target), writer.old) << writer.name;
    chmod(target.c_str(), 0644);
    unlink(target.c_str());
  }
  // Nothing else was made in the folder.
  EXPECT_EQ(rmdir("ro"), 0);
#endif
}
