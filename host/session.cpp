// One host session: load the module, hand-shake, press the buttons, terminate and unload.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <system_error>

#include "binding/exception_text.h"
#include "host/encoding.h"
#include "host/guard.h"
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

namespace {

// Runs a call into the module under the watch, naming it `activity`; the description of an
// exception that left it, taken while the module is loaded, or "" when none did.
template <class F>
std::string module_call(const std::string& activity, int timeout, F&& call) {
  guard::enter(activity);
  guard::arm(timeout);
  std::string thrown;
  try {
    call();
  } catch (...) {
    char text[512];
    kel_describe_current_exception(text, sizeof text);
    thrown = text;
  }
  guard::disarm();
  guard::leave();
  return thrown;
}

// The report file as it stood before a press: its time is set to a mark that a rewrite replaces,
// so that a report left from an earlier run does not pass for this press's.
struct ReportWatch {
  std::filesystem::path path;
  bool existed = false;
  std::filesystem::file_time_type original, mark;

  explicit ReportWatch(std::filesystem::path file) : path(std::move(file)) {
    std::error_code ec;
    original = std::filesystem::last_write_time(path, ec);
    if (ec) return;
    mark = original - std::chrono::hours(24);
    std::filesystem::last_write_time(path, mark, ec);
    existed = !ec;
  }
  // True when the file exists and was written since.
  bool rewritten() const {
    std::error_code ec;
    const auto now = std::filesystem::last_write_time(path, ec);
    return !ec && std::filesystem::is_regular_file(path, ec) && !(existed && now == mark);
  }
  // Gives an untouched file its own time back.
  void restore() const {
    std::error_code ec;
    if (existed && std::filesystem::last_write_time(path, ec) == mark)
      std::filesystem::last_write_time(path, original, ec);
  }
};

}  // namespace

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
  guard::reset_answered();
  // Every way out from here hands back the calls counted.
  const auto finish = [&](ExitStatus status) {
    result.status = status;
    result.calls = host.calls();
    return result;
  };
  // An exception that left the module: said, then the module's termination runs.
  const auto thrown = [&](const std::string& activity, const std::string& text) {
    err << "mirax: an exception left " << activity << ": " << text << guard::last_answered()
        << "\n";
    if (activity != "the termination") {
      const std::string again = module_call("the termination", 0, [&] { module.terminate(); });
      if (!again.empty()) err << "mirax: an exception left the termination: " << again << "\n";
    }
    return finish(kExitException);
  };
  const auto end_session = [&](ExitStatus status) {
    out << std::flush;
    const std::string text = module_call("the termination", 0, [&] { module.terminate(); });
    std::fflush(stdout);
    return text.empty() ? finish(status) : thrown("the termination", text);
  };
  const auto& table = host.table();
  // Room for the required-version text the module writes when it refuses the host.
  kel_wchar message[256] = {};
  out << std::flush;
  int32_t status = KEL_TK_NO_ERROR;
  const std::string handshake = module_call("the hand-shake", 0, [&] {
    status = module.initialize(nullptr, nullptr, options.release.c_str(), options.build.c_str(),
                               nullptr, message, text_root.c_str(), nullptr, module_dir.c_str(),
                               host.handle(), nullptr, table.data(),
                               static_cast<int32_t>(table.size()), options.language);
  });
  if (!handshake.empty()) return thrown("the hand-shake", handshake);
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
    return end_session(kExitOk);
  }
  if (!options.directory.empty()) {
    std::error_code ec;
    std::filesystem::current_path(path_from_utf8(options.directory), ec);
    if (ec) {
      err << "mirax: cannot change to directory " << options.directory << ": " << ec.message()
          << "\n";
      return end_session(kExitUsage);
    }
  }
  ExitStatus exit = kExitOk;
  for (const ButtonName& press : options.presses) {
    const ButtonBinding* binding = host.button(press.menu, press.button);
    if (!binding) {
      err << "mirax: the module bound no action to the button " << press.button << " of menu "
          << press.menu << "\n";
      return end_session(kExitRefused);
    }
    const char* report = report_of(press);
    const auto path = std::filesystem::current_path() / (report ? report : "");
    std::optional<ReportWatch> watch;
    if (report) watch.emplace(path);
    out << std::flush;
    int done = 0;
    const std::string activity = "the button " + press.text();
    const std::string text = module_call(activity, options.timeout, [&] {
      done = binding->action(binding->app_data, binding->app_int);
    });
    if (!text.empty()) {
      if (watch) watch->restore();
      return thrown(activity, text);
    }
    if (!report) {
      out << press.text() << ": the action returned " << done << "\n";
      continue;
    }
    result.report_written = done != 0;
    if (!result.report_written) {
      watch->restore();
      out << "No report written: the name prompt was cancelled or failed, or the report could "
             "not be written.\n";
    } else if (watch->rewritten()) {
      out << "Report: " << path_to_utf8(path) << "\n";
    } else {
      watch->restore();
      err << "mirax: " << activity << " announced its report, but " << path_to_utf8(path)
          << (watch->existed ? " was not written in this press (it is left from before)\n"
                             : " is not a file\n");
      result.report_written = false;
      exit = kExitMisbehaved;
    }
  }
  if (!host.callback_exceptions().empty()) exit = kExitMisbehaved;  // said as they happened
  if (const size_t held = host.geometry_records_held(); held != 0) {
    // Records whose release was failed on purpose, and not retried, are not the module's fault.
    const size_t excused = host.geometry_records_excused();
    if (held > excused) {
      err << "mirax: the module did not release " << held - excused << " csys data record(s)\n";
      exit = kExitMisbehaved;
    }
    if (excused != 0)
      err << "mirax: " << excused
          << " csys data record(s) stay held because --fail made their release fail\n";
  }
  const SessionResult ended = end_session(exit);
  if (ended.status == kExitException) return ended;
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
