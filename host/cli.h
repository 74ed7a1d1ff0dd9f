// mirax's command line.
#pragma once
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host.h"

namespace mirax {

struct CommandLine {
  std::string model;
  std::optional<std::string> name;  // UTF-8 reply to the name prompt
  bool cancel = false;
  std::optional<std::string> reference;  // reference path
  bool no_reference = false;
  bool list_calls = false;                  // print the host calls and their counts at the end
  std::string trace;                        // the call trace file; empty: none
  std::optional<std::string> export_model;  // write the model read as JSON there, run nothing
  std::optional<std::string> view;          // write the drawn report there (absolute path)
  SessionOptions session;
  bool help = false;
  bool version = false;
};

// Where mirax's defaults live: the directory of the running program.
struct Defaults {
  std::string program_dir;  // UTF-8
};

// A bad command line; the message names the option at fault.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// Parses the arguments (without the program name). Throws UsageError.
CommandLine parse_command_line(const std::vector<std::string>& args, const Defaults& defaults);

// The help text.
std::string usage_text();
// "mirax <version>".
std::string version_text();

// The calls of a session as --list-calls prints them: a title line, then "NAME COUNT" per host
// function, in name order.
std::string call_list_text(const CallCounts& calls);

}  // namespace mirax
