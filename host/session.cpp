// One host session: load the module, hand-shake, press the buttons, terminate and unload.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "host/encoding.h"
#include "host/host.h"
#include "platform/dynload.h"

namespace mirax {

namespace {

// Closes the module when the session ends, whichever way it ends.
struct LoadedModule {
  platform_library* library = nullptr;
  ~LoadedModule() {
    if (library) platform_library_close(library);
  }
};

// The report file of the buttons whose command writes a known one.
struct KnownReport {
  ButtonName button;
  const char* file;
};
const KnownReport kKnownReports[] = {{kDefaultButton, "csyspos.txt"}};

const char* report_of(const ButtonName& button) {
  for (const KnownReport& known : kKnownReports)
    if (known.button == button) return known.file;
  return nullptr;
}

int result_calls(const Host& host, const std::string& function) {
  const CallCounts calls = host.calls();
  const auto it = calls.find(function);
  return it == calls.end() ? 0 : it->second;
}

}  // namespace

SessionResult run_session(const SessionOptions& options, const Assembly& assembly, Answers& answers,
                          std::ostream& out, std::ostream& err) {
  SessionResult result;
  LoadedModule module;
  // The module takes an 8-bit path in the platform's own encoding.
  const std::string module_path = path_from_utf8(options.module).string();
  module.library = platform_library_open(module_path.c_str());
  if (!module.library) {
    err << "mirax: cannot load the module " << options.module << ": " << platform_library_error()
        << "\n";
    result.status = kExitNoModule;
    return result;
  }
  const ModuleEntries entries{reinterpret_cast<KelInitializeFn*>(
                                  platform_library_symbol(module.library, "user_initialize_plus")),
                              reinterpret_cast<KelTerminateFn*>(
                                  platform_library_symbol(module.library, "user_terminate_plus"))};
  if (!entries.initialize || !entries.terminate) {
    err << "mirax: " << options.module
        << " is not a plug-in module (no user_initialize_plus / user_terminate_plus)\n";
    result.status = kExitNoModule;
    return result;
  }
  return run_module(entries, options, assembly, answers, out, err);
}

SessionResult run_module(const ModuleEntries& module, const SessionOptions& options,
                         const Assembly& assembly, Answers& answers, std::ostream& out,
                         std::ostream& err) {
  // The hand-shake takes 8-bit paths in the platform's own encoding.
  const std::string text_root = path_from_utf8(options.text_root).string();
  const std::string module_dir = path_from_utf8(options.module).parent_path().string();
  SessionResult result;
  Host host(assembly, answers, options.language, out, err);
  host.set_faults(options.faults);
  host.set_trace(options.trace);
  host.set_session_code_page(session_code_page());
  // Every way out from here hands back the calls counted.
  const auto finish = [&](ExitStatus status) {
    result.status = status;
    result.calls = host.calls();
    return result;
  };
  const auto& table = host.table();
  // Room for the required-version text the module writes when it refuses the host.
  kel_wchar message[256] = {};
  out << std::flush;
  const int32_t status = module.initialize(
      nullptr, nullptr, options.release.c_str(), options.build.c_str(), nullptr, message,
      text_root.c_str(), nullptr, module_dir.c_str(), host.handle(), nullptr, table.data(),
      static_cast<int32_t>(table.size()), options.language);
  if (status == KEL_VERSION_MISMATCH) {
    err << "mirax: the module refuses this host (release " << options.release << ", build "
        << options.build << "): it requires "
        << wide_to_utf8(std::u16string_view(message, wide_length(message))) << "\n";
    return finish(kExitRefused);
  }
  if (status != KEL_TK_NO_ERROR) {
    err << "mirax: the module's initialisation failed with status " << status << "\n";
    return finish(kExitRefused);
  }

  if (options.list_buttons) {
    for (const ButtonName& button : host.buttons()) out << button.text() << "\n";
    out << std::flush;
    module.terminate();
    std::fflush(stdout);
    return finish(kExitOk);
  }
  if (!options.directory.empty()) {
    std::error_code ec;
    std::filesystem::current_path(path_from_utf8(options.directory), ec);
    if (ec) {
      err << "mirax: cannot change to directory " << options.directory << ": " << ec.message()
          << "\n";
      module.terminate();
      return finish(kExitUsage);
    }
  }
  ExitStatus exit = kExitOk;
  for (const ButtonName& press : options.presses) {
    const ButtonBinding* binding = host.button(press.menu, press.button);
    if (!binding) {
      err << "mirax: the module bound no action to the button " << press.button << " of menu "
          << press.menu << "\n";
      module.terminate();
      return finish(kExitRefused);
    }
    out << std::flush;
    const int done = binding->action(binding->app_data, binding->app_int);
    const char* report = report_of(press);
    if (!report) {
      out << press.text() << ": the action returned " << done << "\n";
      continue;
    }
    result.report_written = done != 0;
    const auto path = std::filesystem::current_path() / report;
    std::error_code ec;
    if (!result.report_written) {
      out << "No report written: the name prompt was cancelled or failed, or the report could "
             "not be written.\n";
    } else if (std::filesystem::is_regular_file(path, ec)) {
      out << "Report: " << path_to_utf8(path) << "\n";
    } else {
      err << "mirax: the command announced its report, but " << path_to_utf8(path)
          << " is not a file\n";
      result.report_written = false;
      exit = kExitMisbehaved;
    }
  }
  if (const size_t held = host.geometry_records_held(); held != 0) {
    // Records whose release was failed on purpose are not the module's fault.
    const size_t failed = static_cast<size_t>(host.injected_failures("KelGeomitemdataFree"));
    if (held > failed) {
      err << "mirax: the module did not release " << held - failed << " csys data record(s)\n";
      exit = kExitMisbehaved;
    }
    if (failed != 0)
      err << "mirax: " << std::min(held, failed)
          << " csys data record(s) stay held because --fail made KelGeomitemdataFree fail\n";
  }
  out << std::flush;
  module.terminate();
  std::fflush(stdout);
  for (const FailRule& rule : host.unfired_rules()) {
    err << "mirax: --fail " << rule.function
        << (rule.subject.empty() ? rule.call ? ":" + std::to_string(rule.call) : ""
                                 : "@" + rule.subject)
        << " failed no call (" << rule.function << " was called "
        << result_calls(host, rule.function) << " time(s))\n";
    if (exit == kExitOk) exit = kExitUnfiredRule;
  }
  return finish(exit);
}

}  // namespace mirax
