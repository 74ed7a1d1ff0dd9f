// mirax's options, read with CLI11: each bad option is refused with a message naming it.
#include "host/cli.h"

#include <algorithm>
#include <filesystem>

#include <CLI/CLI.hpp>

#include "binding/kel_error.h"
#include "host/encoding.h"
#include "kel_version.h"

namespace mirax {

namespace {

#ifdef _WIN32
constexpr const char* kModuleFile = "test.dll";
#else
constexpr const char* kModuleFile = "test.so";
#endif

// The hand-shake keeps 15 characters of the release and build, and builds directories of at most
// 255 characters from the text root ("<root>\text\<language>\menus", the longest language name
// having 19 characters).
constexpr size_t kMaxHostString = 15;
constexpr size_t kMaxTextRoot = 255 - 31;
// The status codes have names from 0 down to about -100.
constexpr KelError kLowestNamedStatus = -200;

const char kFooter[] = R"(
Without --name mirax shows the prompt and reads the name on the terminal (end of input cancels);
without --reference it lists the csys that can be picked and reads a number or a path. The same
answers serve every press. A name longer than 31 characters, and a name the session's code page
cannot hold (the module turns it into "?"), are warned about on standard error.

The model file is JSON, described by the JSON Schema model.schema.json (host/model.schema.json in
the sources, share/doc/csyslist/ in an installed tree); a model expanding to more than 1000000 components and csys is refused.

Fault injection, for testing a plug-in against a host that fails: --fail KelMdlNameGet:3 makes
the host function KelMdlNameGet (named without "_v") fail on its third call of the run, --fail
KelSelect on every call, --fail KelMdlNameGet@SUB on every call about the model or csys SUB
(the one its first argument names: a model, a csys, a pick, or a feature); each failing call
answers the --fail-status code (a negative number or a status name, default
KEL_TK_GENERAL_ERROR), does nothing, and is said on standard error ("mirax: injected: NAME call N
-> STATUS"). --list-calls prints every host function the module called, with its call count,
after the run. --trace FILE writes one JSON object a line per host call as it returns: seq (the
order calls began), name, call (its number among that function's calls), args (inputs as given,
outputs once the call succeeded; null for a function mirax does not implement), status,
status_name, injected.

--timeout SECONDS ends the run when a button has not returned after that long (time spent waiting
for answers typed on the terminal counts). A crash, an abort, an exception, exit() or a hang inside
the module ends the run at once with a message naming the hand-shake, the button or the
termination and the last host call answered; the trace keeps every call made until then.

Exit status:
  0  done (also when the name prompt was cancelled or no report could be written)
  1  the module refused the host, or a pressed button has no action bound
  2  bad usage, a bad or too large model, an unknown reference, a trace that cannot be written
  3  the module cannot be loaded
  4  the module misbehaved: it kept csys data records (not counting those whose release --fail
     made fail and that were not released later), its command announced a report that it did not
     write in that press, it called exit(), or an exception left one of its visit callbacks
  5  a --fail rule failed no call (4 outranks 5)
  6  an exception left the module's hand-shake, a button or its termination
  7  the module crashed (invalid memory access, illegal instruction, arithmetic fault) or aborted
  8  a button did not return within --timeout SECONDS)";

// "NAME", "NAME:N" or "NAME@ITEM": a host function without "_v" and the call that fails (0:
// every call), or the model or csys whose calls fail.
std::optional<FailRule> fail_rule(const std::string& text, std::string& why) {
  FailRule rule;
  const auto at = text.find('@');
  const auto colon = at == std::string::npos ? text.rfind(':') : std::string::npos;
  rule.function = text.substr(0, std::min(at, colon));
  if (at != std::string::npos) {
    rule.subject = text.substr(at + 1);
    if (rule.subject.empty()) {
      why = "name the model or csys after \"@\"";
      return std::nullopt;
    }
  } else if (colon != std::string::npos) {
    const std::string count = text.substr(colon + 1);
    if (!CLI::detail::lexical_cast(count, rule.call) || rule.call < 1) {
      why = "the call number must be a whole number from 1 on, not \"" + count + "\"";
      return std::nullopt;
    }
  }
  if (!is_host_function(rule.function)) {
    why = "no host function is named \"" + rule.function + "\" (give it without \"_v\")";
    return std::nullopt;
  }
  return rule;
}

// A failure status: a negative number or a status name such as KEL_TK_CANT_OPEN (the statuses
// that are not failures are 0 and above).
std::optional<KelError> fail_status(const std::string& text) {
  KelError status = 0;
  if (CLI::detail::lexical_cast(text, status))
    return status < KEL_TK_NO_ERROR ? std::optional(status) : std::nullopt;
  for (KelError code = KEL_TK_GENERAL_ERROR; code >= kLowestNamedStatus; --code)
    if (text == kel_error_name(code)) return code;
  return std::nullopt;
}

// "MENU/BUTTON", split at the first "/": both parts non-empty.
std::optional<ButtonName> button_name(const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size()) return std::nullopt;
  return ButtonName{text.substr(0, slash), text.substr(slash + 1)};
}

struct Validators {
  CLI::Validator fail{[](std::string& text) {
                        std::string why;
                        return fail_rule(text, why) ? std::string() : why;
                      },
                      ""};
  CLI::Validator status{
      [](std::string& text) {
        return fail_status(text)
                   ? std::string()
                   : "not a failure status (a negative number or a KEL_TK_ name): " + text;
      },
      ""};
  CLI::Validator button{[](std::string& text) {
                          return button_name(text) ? std::string()
                                                   : "expected MENU/BUTTON, not \"" + text + "\"";
                        },
                        ""};
  CLI::Validator host_string{
      [](std::string& text) {
        return text.size() <= kMaxHostString ? std::string() : "at most 15 characters: " + text;
      },
      ""};
};

// What the options hold before they are checked together.
struct RawOptions {
  std::string module, text_root, directory, fail_status = "KEL_TK_GENERAL_ERROR";
  std::vector<std::string> fails, presses;
};

void describe(CLI::App& app, CommandLine& cl, RawOptions& raw, const Validators& v) {
  app.description(
      "Stands in for the CAD host: loads the plug-in module, presses its buttons (default\n"
      "assembly/-CsysList) and answers its questions from the assembly model FILE (JSON, or\n"
      "STEP: .step, .stp).");
  app.footer(kFooter);
  app.add_option("--model", cl.model, "The assembly model")->type_name("FILE");
  auto* name =
      app.add_option("--name", cl.name, "Reply NAME to the csys name prompt")->type_name("NAME");
  app.add_flag("--cancel", cl.cancel, "Cancel the csys name prompt")->excludes(name);
  auto* reference =
      app.add_option("--reference", cl.reference,
                     "Pick the reference csys PATH (\"CS\", \"SUB/P2/CS\", \"BOLT[2]/CS\")")
          ->type_name("PATH");
  app.add_flag("--no-reference", cl.no_reference, "Abort the reference pick")->excludes(reference);
  app.add_option("--module", raw.module,
                 "The plug-in module (default: test.so / test.dll beside mirax)")
      ->type_name("FILE");
  app.add_option("--text-root", raw.text_root,
                 "The directory holding the text tree (default: the module's directory when it "
                 "holds a text tree, else mirax's)")
      ->type_name("DIR");
  app.add_option("--language", cl.session.language,
                 "The host's language number (0 US ASCII, 1 Japanese, ...)")
      ->type_name("N")
      ->capture_default_str();
  app.add_option("--release", cl.session.release, "The host's release")
      ->check(v.host_string)
      ->capture_default_str();
  app.add_option("--build", cl.session.build, "The host's build")
      ->check(v.host_string)
      ->capture_default_str();
  app.add_option("--dir", raw.directory, "The current directory, where csyspos.txt is written")
      ->type_name("DIR")
      ->check(CLI::ExistingDirectory.description(""));
  app.add_option("--fail", raw.fails,
                 "Fail host function NAME on its N-th call, on every call, or on every call "
                 "about the model or csys ITEM (repeatable)")
      ->check(v.fail)
      ->type_name("NAME[:N|@ITEM]")
      ->allow_extra_args(false);
  app.add_option("--fail-status", raw.fail_status, "The status failing calls answer")
      ->check(v.status)
      ->type_name("CODE")
      ->capture_default_str();
  app.add_flag("--list-calls", cl.list_calls,
               "Print the host functions the module called and their call counts");
  app.add_option("--press", raw.presses,
                 "Press the button MENU/BUTTON the module bound (repeatable: pressed in order in "
                 "one session; default assembly/-CsysList)")
      ->check(v.button)
      ->type_name("MENU/BUTTON")
      ->allow_extra_args(false);
  app.add_flag("--list-buttons", cl.session.list_buttons,
               "Print every button the module bound, as MENU/BUTTON one a line, and press none");
  app.add_option("--trace", cl.trace,
                 "Write one JSON object a line per host call to FILE (name, call, args, status, "
                 "status_name, injected)")
      ->type_name("FILE");
  app.add_option("--timeout", cl.session.timeout,
                 "End the run when a button has not returned after SECONDS (status 8)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400));
  app.add_flag("--version", cl.version, "Print mirax's version");
  app.add_option("--export-model", cl.export_model,
                 "Write the model read (JSON or STEP) to FILE as JSON, and run nothing")
      ->type_name("FILE");
  app.add_option(
         "--view", cl.view,
         "Write the report drawn in 3D beside the assembly tree to FILE, one HTML page that "
         "opens from disk (with --export-model too: the command then runs on its own)")
      ->type_name("FILE.html");
}

// UTF-8 in, UTF-8 out.
std::string absolute(const std::string& path) {
  std::error_code ec;
  const auto p = std::filesystem::absolute(path_from_utf8(path), ec);
  return ec ? path : path_to_utf8(p.lexically_normal());
}

}  // namespace

// The host calls mirax answers, from the table it hands over: a paragraph of the help text.
std::string answered_calls_text() {
  std::string text = "\nHost calls mirax answers (from the model and the answers given):\n ";
  size_t line = text.size() - 1, others = 0;
  for (const HostEntry& entry : build_host_table()) {
    if (!host_function_implemented(entry)) {
      ++others;
      continue;
    }
    const std::string name = host_function_name(entry.name);
    if (text.size() - line + name.size() + 1 > 98) {
      text += "\n ";
      line = text.size() - 1;
    }
    text += " " + name;
  }
  return text + ".\nThe other " + std::to_string(others) +
         " host functions answer KEL_TK_NOT_IMPLEMENTED and do nothing.\n";
}

std::string usage_text() {
  CLI::App app{"", "mirax"};
  CommandLine cl;
  RawOptions raw;
  const Validators v;
  describe(app, cl, raw, v);
  return app.help() + answered_calls_text();
}

CommandLine parse_command_line(const std::vector<std::string>& args, const Defaults& defaults) {
  CLI::App app{"", "mirax"};
  CommandLine cl;
  RawOptions raw;
  const Validators v;
  describe(app, cl, raw, v);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    cl.help = true;
    return cl;
  } catch (const CLI::ExtrasError&) {
    const auto extras = app.remaining();
    throw UsageError("unknown argument " + (extras.empty() ? std::string("?") : extras.front()));
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what());
  }
  if (cl.version) return cl;
  if (cl.model.empty() && (!cl.session.list_buttons || cl.export_model))
    throw UsageError("--model FILE is required");
  if (!raw.presses.empty()) {
    cl.session.presses.clear();
    for (const std::string& text : raw.presses) cl.session.presses.push_back(*button_name(text));
  }
  for (const std::string& text : raw.fails) {
    std::string why;
    cl.session.faults.rules.push_back(*fail_rule(text, why));
  }
  cl.session.faults.status = *fail_status(raw.fail_status);
  cl.session.module = absolute(
      !raw.module.empty() ? raw.module
                          : path_to_utf8(path_from_utf8(defaults.program_dir) / kModuleFile));
  // A plug-in's text tree lies beside it; the bundled module's beside mirax.
  const std::string module_dir = path_to_utf8(path_from_utf8(cl.session.module).parent_path());
  std::error_code ec;
  const bool text_beside_module =
      std::filesystem::is_directory(path_from_utf8(module_dir) / "text", ec);
  cl.session.text_root = absolute(!raw.text_root.empty() ? raw.text_root
                                  : text_beside_module   ? module_dir
                                                         : defaults.program_dir);
  if (cl.session.text_root.size() > kMaxTextRoot)
    throw UsageError("--text-root: " + cl.session.text_root + " is longer than " +
                     std::to_string(kMaxTextRoot) + " characters");
  if (!raw.directory.empty()) cl.session.directory = absolute(raw.directory);
  if (cl.view) cl.view = absolute(*cl.view);  // the session may change the current folder
  return cl;
}

std::string version_text() { return std::string("mirax ") + KEL_VERSION + "\n"; }

std::string call_list_text(const CallCounts& calls) {
  std::string text = "Host functions called:\n";
  for (const auto& [name, count] : calls) text += name + " " + std::to_string(count) + "\n";
  return text;
}

}  // namespace mirax
