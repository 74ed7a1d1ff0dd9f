// mirax's command line: what the options become, and bad command lines refused with a message
// that names the option at fault.
#include <gtest/gtest.h>

#include "host/cli.h"

namespace mirax {
namespace {

CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), {"--model", "m.json"});
  return parse_command_line(args, Defaults{"."});
}

TEST(CommandLine, FailRulesAndStatuses) {
  const CommandLine cl = parse(
      {"--fail", "KelMdlNameGet:3", "--fail=KelSelect", "--fail-status", "-24", "--list-calls"});
  ASSERT_EQ(cl.session.faults.rules.size(), 2u);
  EXPECT_EQ(cl.session.faults.rules[0].function + std::to_string(cl.session.faults.rules[0].call),
            "KelMdlNameGet3");
  EXPECT_EQ(cl.session.faults.rules[1].function + std::to_string(cl.session.faults.rules[1].call),
            "KelSelect0");
  EXPECT_TRUE(cl.session.faults.status == KEL_TK_CANT_OPEN && cl.list_calls);
  EXPECT_EQ(parse({}).session.faults.status, KEL_TK_GENERAL_ERROR);
  EXPECT_EQ(parse({"--fail-status", "KEL_TK_E_NOT_FOUND"}).session.faults.status,
            KEL_TK_E_NOT_FOUND);
  EXPECT_EQ(parse({}).session.presses, std::vector<ButtonName>{kDefaultButton});
  const CommandLine pressed = parse({"--press", "m/b/c", "--press=assembly/-CsysList"});
  EXPECT_EQ(pressed.session.presses,
            (std::vector<ButtonName>{{"m", "b/c"}, {"assembly", "-CsysList"}}));
  const FailRule about = parse({"--fail", "KelMdlNameGet@SUB:2"}).session.faults.rules.at(0);
  EXPECT_EQ(about.function + "|" + std::to_string(about.call) + "|" + about.subject,
            "KelMdlNameGet|0|SUB:2");
}

TEST(CommandLine, BadCommandLinesNameTheOption) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--frobnicate"}, "unknown argument --frobnicate"},
      {{"--name"}, "--name"},
      {{"--language", "1x"}, "--language"},
      {{"--language", "99999999999"}, "--language"},
      {{"--fail", "KelMdlNameGet:0"}, "--fail"},
      {{"--fail", "KelMdlNameGet:-1"}, "--fail"},
      {{"--fail", "KelMdlNameGet:two"}, "--fail"},
      {{"--fail", "KelMdlNameGet_v"}, "--fail"},
      {{"--fail", "KelMdlNameGet@"}, "--fail"},
      {{"--fail", "KelFoo@SUB"}, "--fail"},
      {{"--fail"}, "--fail"},
      {{"--fail-status", "0"}, "--fail-status"},
      {{"--fail-status", "5"}, "--fail-status"},
      {{"--press", "assembly"}, "--press"},
      {{"--press", "/-CsysList"}, "--press"},
      {{"--press", "assembly/"}, "--press"},
      {{"--fail-status", "KEL_TK_NO_SUCH"}, "--fail-status"},
      {{"--release", "1234567890123456"}, "--release"},
      {{"--dir", "no/such/dir"}, "--dir"},
      {{"--name", "a", "--cancel"}, "--name"},
      {{"--reference", "CS", "--no-reference"}, "--reference"},
      {{"--text-root", std::string(300, 'x')}, "--text-root"},
  };
  for (const auto& [args, named] : cases) {
    SCOPED_TRACE(args.front());
    try {
      parse(args);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace mirax
