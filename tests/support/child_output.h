// Standard output of a death-test child, sent to a file that the parent reads back, and the
// environment changes such children make. Shared by the test programs.
#pragma once
#include <string>

namespace testsupport {

// A file in the temporary folder named after the running test, the folder the test program
// started in (so that runs from several build folders do not meet) and `tag`; a death-test
// child that runs the test anew computes the same name.
std::string child_output_path(const char* tag = "");

// Sends this process's standard output to `path` from here on.
void send_stdout_to(const std::string& path);

// The file's text with CRLF line ends read as LF (text-mode output on Windows); "" when the
// file does not exist.
std::string read_text(const std::string& path);

void set_env(const char* name, const char* value);
void unset_env(const char* name);

}  // namespace testsupport
