// mirax: a command-line stand-in for the CAD host that runs the plug-in's -CsysList command.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "host/cli.h"
#include "host/encoding.h"
#include "host/guard.h"
#include "host/step/model_file.h"
#include "host/view.h"
#include "platform/program.h"

using namespace mirax;

namespace {

int run(int argc, char** argv) {
  char** utf8_argv = platform_program_utf8_args(argc, argv);
  const std::vector<std::string> args(utf8_argv + 1, utf8_argv + argc);

  Defaults defaults;
  char program[1024];
  if (platform_program_path(program, sizeof program) > 0)
    defaults.program_dir = path_to_utf8(path_from_utf8(program).parent_path());
  else
    defaults.program_dir =
        path_to_utf8(std::filesystem::absolute(path_from_utf8(utf8_argv[0])).parent_path());

  CommandLine cl;
  try {
    cl = parse_command_line(args, defaults);
  } catch (const UsageError& e) {
    std::cerr << "mirax: " << e.what() << "\nRun mirax --help for the options.\n";
    return kExitUsage;
  }
  if (cl.help) {
    std::cout << usage_text();
    return kExitOk;
  }
  if (cl.version) {
    std::cout << version_text();
    return kExitOk;
  }

  Assembly assembly;
  ScriptedAnswers scripted;
  try {
    // Listing the buttons needs no model: the module sees an empty one.
    if (!cl.model.empty()) assembly = read_model_file(cl.model, std::cerr);
    if (cl.export_model) {
      save_assembly(assembly, *cl.export_model);
      if (!cl.view) return kExitOk;
    }
    if (cl.name) {
      auto wide = utf8_to_wide(*cl.name);
      if (!wide) throw UsageError("--name is not UTF-8 text");
      scripted.name = std::move(*wide);
    }
    scripted.cancel = cl.cancel;
    if (cl.reference) scripted.reference = resolve_reference(assembly, *cl.reference);
    scripted.no_reference = cl.no_reference;
  } catch (const std::runtime_error& e) {
    std::cerr << "mirax: " << e.what() << "\n";
    return kExitUsage;
  }
  if (cl.export_model) {  // and --view: the command runs on its own for the page
    ExitStatus status = kExitOk;
    const ViewSource source =
        view_source_of_private_press(cl.session, assembly, scripted, cl.model, std::cerr, status);
    return write_view(*cl.view, assembly, source, std::cerr) ? status : kExitUsage;
  }

  std::ofstream trace;
  if (!cl.trace.empty()) {
    trace.open(path_from_utf8(cl.trace), std::ios::binary);
    if (!trace) {
      std::cerr << "mirax: --trace: cannot write " << cl.trace << "\n";
      return kExitUsage;
    }
    cl.session.trace = &trace;
  }

  const auto answers = make_answers(std::move(scripted), std::cin, std::cout);
  SessionResult result = run_session(cl.session, assembly, *answers, std::cout, std::cerr);
  if (cl.list_calls) std::cout << call_list_text(result.calls);
  if (cl.view && !write_view(*cl.view, assembly,
                             view_source_after(result, cl.session.directory, cl.model), std::cerr))
    result.status = kExitUsage;
  std::cout << std::flush;
  if (trace.is_open()) {
    trace.close();
    if (!trace) {
      std::cerr << "mirax: --trace: " << cl.trace << " could not be written in full\n";
      if (result.status == kExitOk) result.status = kExitUsage;
    }
  }
  return result.status;
}

}  // namespace

// No exception ends mirax uncaught: it says what went wrong and ends with the status of a run
// that could not be carried out as asked.
int main(int argc, char** argv) {
  platform_console_utf8();
  mirax::guard::install();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "mirax: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "mirax: " << e.what() << "\n";
  }
  return kExitUsage;
}
