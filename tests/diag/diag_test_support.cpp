#include "diag_test_support.h"

#include <fstream>
#include <sstream>

namespace diagtest {

std::string child_output_path() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("diag_") + info->test_suite_name() + "_" + info->name() + ".out";
  for (char& c : name)
    if (c == '/') c = '_';
  return ::testing::TempDir() + name;
}

void send_stdout_to(const std::string& path) {
  std::fflush(stdout);
  if (!std::freopen(path.c_str(), "w", stdout)) std::abort();
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  // Text-mode output on Windows ends lines with CRLF; the checks compare LF texts.
  std::string plain;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) plain += s[i];
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

}  // namespace diagtest
