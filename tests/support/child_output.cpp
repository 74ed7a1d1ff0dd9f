#include "child_output.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace testsupport {

std::string child_output_path(const char* tag) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const size_t folder = std::hash<std::string>{}(start_dir().string());
  std::string name = "kel_" + std::to_string(folder) + "_" + info->test_suite_name() + "_" +
                     info->name() + "_" + tag + ".out";
  for (char& c : name)
    if (c == '/') c = '_';
  return ::testing::TempDir() + name;
}

void send_stdout_to(const std::string& path) {
  std::fflush(stdout);
  if (!std::freopen(path.c_str(), "w", stdout)) std::abort();
}

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
