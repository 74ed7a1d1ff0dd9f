#include "child_output.h"

#include "temp_dir.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace testsupport {

namespace {

// Writes every failed check of the child to a file as it happens, so that a check made just
// before the child stops or crashes still reaches the parent. One record a failure:
// "<type> <line> <file length> <message length>\n<file><message>\n".
class FailureRecorder : public ::testing::ScopedFakeTestPartResultReporter {
 public:
  FailureRecorder(InterceptMode mode, std::string path)
      : ScopedFakeTestPartResultReporter(mode, &ignored_), path_(std::move(path)) {}

  void ReportTestPartResult(const ::testing::TestPartResult& result) override {
    if (!result.failed()) return;
    const std::string file = result.file_name() ? result.file_name() : "";
    const std::string message = result.message();
    FILE* f = std::fopen(path_.c_str(), "ab");
    if (!f) std::abort();
    std::fprintf(f, "%d %d %zu %zu\n%s%s\n", static_cast<int>(result.type()), result.line_number(),
                 file.size(), message.size(), file.c_str(), message.c_str());
    std::fclose(f);
  }

 private:
  ::testing::TestPartResultArray ignored_;
  std::string path_;
};

// The child's recorders, never destroyed: reachable from here, so that the leak check of a child
// that ends with exit() finds nothing.
FailureRecorder* volatile recorders[2];

// Reports the failures the child recorded as failures of the running test; true when one was
// fatal (an ASSERT_* left the child's body early).
bool report_child_failures(const std::string& text) {
  bool fatal = false;
  size_t at = 0;
  while (at < text.size()) {
    int type = 0, line = 0;
    size_t file_size = 0, message_size = 0;
    const size_t header_end = text.find('\n', at);
    if (header_end == std::string::npos ||
        std::sscanf(text.c_str() + at, "%d %d %zu %zu", &type, &line, &file_size, &message_size) !=
            4 ||
        header_end + 1 + file_size + message_size > text.size()) {
      ADD_FAILURE() << "unreadable failure record of a child process: " << text.substr(at);
      return fatal;
    }
    const std::string file = text.substr(header_end + 1, file_size);
    const std::string message = text.substr(header_end + 1 + file_size, message_size);
    const auto kind = static_cast<::testing::TestPartResult::Type>(type);
    fatal = fatal || kind == ::testing::TestPartResult::kFatalFailure;
    GTEST_MESSAGE_AT_(file.empty() ? nullptr : file.c_str(), line,
                      ("in a child process: " + message).c_str(), kind);
    at = header_end + 1 + file_size + message_size + 1;
  }
  return fatal;
}

std::string describe_end(int status) {
#ifdef _WIN32
  return "exit status " + std::to_string(status);
#else
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
#endif
}

std::string last_part(const std::string& text, size_t size) {
  return text.size() <= size ? text : "..." + text.substr(text.size() - size);
}

}  // namespace

std::string child_output_path(const char* tag) {
  const char* folder = std::getenv(kTestFolderVariable);
  const std::filesystem::path dir = folder && *folder ? std::filesystem::path(folder)
                                                      : std::filesystem::path(::testing::TempDir());
  std::string name = std::string("kel_child_") + tag;
  for (char& c : name)
    if (c == '/' || c == '\\') c = '_';
  return (dir / name).string();
}

ChildEnd exits(int code) { return ::testing::ExitedWithCode(code); }
ChildEnd stops() { return ::testing::ExitedWithCode(2); }
ChildEnd ends_badly() {
  return [](int status) { return !::testing::ExitedWithCode(0)(status); };
}
#ifndef _WIN32
ChildEnd killed_by(int signal_number) { return ::testing::KilledBySignal(signal_number); }
#endif

namespace child_detail {

Files prepare(const char* tag) {
  const std::string base = child_output_path(tag);
  Files files{base + ".out", base + ".err", base + ".failures"};
  for (const std::string* path : {&files.out, &files.err, &files.failures})
    std::remove(path->c_str());
  return files;
}

void enter(const Files& files) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (!std::freopen(files.out.c_str(), "w", stdout) ||
      !std::freopen(files.err.c_str(), "w", stderr))
    std::abort();
  // This thread's reporter comes first (a check of the parent, such as EXPECT_NONFATAL_FAILURE,
  // may have set one); other threads report to the global one. Neither is ever destroyed.
  recorders[0] = new FailureRecorder(FailureRecorder::INTERCEPT_ALL_THREADS, files.failures);
  recorders[1] =
      new FailureRecorder(FailureRecorder::INTERCEPT_ONLY_CURRENT_THREAD, files.failures);
}

void leave() {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(0);
}

std::string finish(const Files& files, bool ran, int status, const ChildEnd& ends, std::string* err,
                   const std::source_location& where) {
  std::string out, errors;
  if (ran) {
    out = read_text(files.out);
    errors = read_text(files.err);
    const bool fatal = report_child_failures(read_file(files.failures));
    if (!fatal && !ends(status))
      GTEST_MESSAGE_AT_(where.file_name(), static_cast<int>(where.line()),
                        ("the child process ended with " + describe_end(status) +
                         ", not as expected\nits standard error:\n" + last_part(errors, 4000) +
                         "\nits standard output:\n" + last_part(out, 2000))
                            .c_str(),
                        ::testing::TestPartResult::kNonFatalFailure);
  }
  for (const std::string* path : {&files.out, &files.err, &files.failures})
    std::remove(path->c_str());
  if (err) *err = errors;
  return out;
}

}  // namespace child_detail

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::string read_text(const std::string& path) {
  const std::string text = read_file(path);
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
  return plain;
}

void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _putenv((std::string(name) + "=" + value).c_str());
#else
  setenv(name, value, 1);
#endif
}

void unset_env(const char* name) {
#ifdef _WIN32
  _putenv((std::string(name) + "=").c_str());
#else
  unsetenv(name);
#endif
}

}  // namespace testsupport
