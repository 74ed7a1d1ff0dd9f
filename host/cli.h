// mirax's command line.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace mirax {

struct CommandLine {
  std::string model;
  std::optional<std::string> name;       // UTF-8 reply to the name prompt
  bool cancel = false;
  std::optional<std::string> reference;  // reference path
  bool no_reference = false;
  SessionOptions session;
  bool help = false;
};

// Where mirax's defaults live: the directory of the running program.
struct Defaults {
  std::string program_dir;  // UTF-8
};

// Parses the arguments (without the program name). Throws UsageError naming the fault.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
CommandLine parse_command_line(const std::vector<std::string>& args, const Defaults& defaults);

// The usage text.
const char* usage_text();

}  // namespace mirax
