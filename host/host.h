// The simulated host: the state behind the host functions a plug-in calls (menus, buttons,
// messages, selections, geometry records) and the session that loads the module, performs the
// hand-shake, presses the button and unloads the module.
#pragma once
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/host_records.h"
#include "binding/host_binding.h"
#include "host/answers.h"
#include "host/model.h"
#include "host/text_files.h"

namespace mirax {

using HostEntry = KelHostFunctionEntry;

// Feature types the host reports.
inline constexpr int kFeatureTypeCsys = 923;
// Item type of a feature handed to visit callbacks.
inline constexpr int kItemFeature = 1;

// Host calls that fail on demand: each rule fails the host function `function` (its name without
// "_v") on its `call`-th call of the run, or on every call when `call` is 0, answering `status`
// without doing anything. A rule with a `subject` fails instead every call about the model or
// csys of that name: the one its first argument gives (a model, a csys, a pick, or a model item
// or feature: a csys, or a component of that model).
struct FailRule {
  std::string function;
  int call = 0;
  std::string subject{};  // empty: calls are chosen by number
};
struct FaultPlan {
  std::vector<FailRule> rules;
  KelError status = KEL_TK_GENERAL_ERROR;
};
// How often the module called each host function (names without "_v").
using CallCounts = std::map<std::string, int>;

// What the host decided when a call came in.
struct CallStart {
  int call = 0;                     // the call's number among the calls of its function, from 1
  long sequence = 0;                // the call's number among all calls of the session, from 1
  std::optional<KelError> failure;  // the injected failure to answer, or nullopt
};

// A button as "MENU/BUTTON" names it.
struct ButtonName {
  std::string menu;
  std::string button;
  std::string text() const { return menu + "/" + button; }
  bool operator==(const ButtonName&) const = default;
};

struct ButtonBinding {
  KelButtonActionFn action = nullptr;
  void* app_data = nullptr;
  int app_int = 0;
};

// One pick: the csys and the component path leading to it.
struct Selection {
  CsysLocation location;
};

class Host {
 public:
  // `out` receives the message texts as the host shows them, `err` the host's own complaints.
  Host(const Assembly& assembly, Answers& answers, int language, std::ostream& out,
       std::ostream& err);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The sorted host function table handed over at the hand-shake: every host function name,
  // the implemented ones bound to this host's functions, the others to "not implemented".
  const std::vector<HostEntry>& table() const { return table_; }
  // The context handle handed to the module; host functions find this host through it.
  int32_t handle() const;
  static Host& from_handle(void* handle);

  // The button bound with KelMenubuttonActionSet, or null.
  const ButtonBinding* button(const std::string& menu, const std::string& button) const;
  // Every button bound with KelMenubuttonActionSet, in menu and button name order.
  std::vector<ButtonName> buttons() const;

  // Records still held by the module (geometry data not released), and those among them whose
  // release the host failed on purpose and the module did not retry successfully.
  size_t geometry_records_held() const { return geometry_.size(); }
  size_t geometry_records_excused() const;
  // A release of `*data` that the host failed on purpose.
  void release_refused(KelGeomitemdata** data);
  // Messages of exceptions that left the module's visit callbacks (said on the error stream as
  // they happen).
  const std::vector<std::string>& callback_exceptions() const { return callback_exceptions_; }
  // The version the module passed at the hand-shake (-1 before).
  int module_version() const { return module_version_; }

  // Failing calls on demand.
  void set_faults(const FaultPlan& faults);
  // Every call from the module enters here first, under its table name (static storage): counts
  // the call and gives the status to fail it with (said on the error stream), or nullopt to carry
  // it out. `subject` names what the call is about (see FailRule); callers work it out only when
  // a rule asks for one.
  CallStart call_begins(const char* symbol, std::string_view subject = {});
  bool fails_by_subject() const { return fails_by_subject_; }
  // The rules that failed no call so far.
  std::vector<FailRule> unfired_rules() const;
  // How many calls of the host function `name` (without "_v") were failed on demand.
  int injected_failures(const std::string& name) const;

  // The call trace: one JSON object a line per host call, written as each call returns. `args`
  // is the JSON array of the call's arguments, or "null" when they are not known.
  void set_trace(std::ostream* trace) { trace_ = trace; }
  bool tracing() const { return trace_ != nullptr; }
  void trace_call(const char* symbol, const CallStart& start, long status, const std::string& args);
  // The code page the module's session converts names with (0: unknown); a name handed over that
  // it cannot hold is warned about once.
  void set_session_code_page(int code_page) { code_page_ = code_page; }
  // A host function that could not do its work (out of memory): said on the error stream.
  void complain(const char* symbol, const char* what);
  // The name of the model, csys or picked csys a handle stands for; "" for none.
  std::string_view subject_of(void* handle) const;
  // The name of the csys, or of the component's model, a model item or feature names; "" for none.
  std::string_view subject_of(const KelModelitem* item) const;
  CallCounts calls() const;

  // --- Host function bodies (called through host_functions.cpp's table entries) ---
  KelError menu_register(const char* menu, const char* file, int* menu_id, const char* dir,
                         bool aux);
  KelError button_action_set(const char* menu, const char* button, KelButtonActionFn action,
                             void* data, int value);
  KelError message_display(const kel_wchar* file, const char* key, const char* text_dir);
  KelError message_read(int max_length, kel_wchar* buffer);
  KelError select(const char* filter, int max_count, KelSelection** out, int* count);
  KelError selection_item(KelSelection sel, KelModelitem* item);
  KelError selection_path(KelSelection sel, KelAsmcomppath* path);
  KelError item_name(const KelModelitem* item, kel_wchar* name);
  KelError item_init(KelMdl owner, int id, int type, KelModelitem* item);
  KelError csys_init(KelMdl owner, int id, KelCsys* out);
  KelError csys_id(KelCsys csys, int* id);
  KelError csys_data(KelCsys csys, KelGeomitemdata** out);
  KelError geometry_free(KelGeomitemdata** data);
  KelError path_transform(const KelAsmcomppath* path, int top_down, double* out);
  KelError path_init(KelMdl owner, const int32_t* ids, int count, KelAsmcomppath* out);
  KelError current_model(KelMdl* out);
  KelError model_type(KelMdl model, int* out);
  KelError model_name(KelMdl model, kel_wchar* out);
  KelError feature_visit(KelMdl model, KelFeatureActionFn action, KelFeatureFilterFn filter,
                         void* data);
  KelError csys_visit(KelMdl model, KelCsysActionFn action, KelCsysFilterFn filter, void* data);
  KelError feature_type(const KelFeature* feature, int* out);
  KelError component_model(const KelFeature* feature, KelMdl* out);
  KelError array_size(const void* array, int* out);
  int accept_version(int module_version);

 private:
  const Model* model_of(KelMdl handle) const;
  const Csys* csys_of(KelCsys handle) const;
  const Selection* selection_of(KelSelection handle) const;
  // What a model item or feature names: a csys, or a component (whose model it gives); both null
  // when it names neither.
  struct ItemTarget {
    const Csys* csys = nullptr;
    const Model* component = nullptr;
  };
  ItemTarget item_target(const KelModelitem& item) const;
  const MessageCatalog* messages(const std::string& path);
  // Hands a name over: copies it into `out` (at most 31 units and the terminating zero), warning
  // when the session's code page cannot hold it.
  void hand_over(const std::u16string& name, kel_wchar* out);
  void warn_unheld(const std::u16string& name);

  const Assembly& assembly_;
  Answers& answers_;
  int language_;
  std::ostream& out_;
  std::ostream& err_;
  std::vector<HostEntry> table_;
  std::map<std::string, MenuFile> menus_;
  std::map<std::pair<std::string, std::string>, ButtonBinding> buttons_;
  std::map<std::string, MessageCatalog> message_files_;
  std::vector<std::unique_ptr<Selection>> selections_;
  std::vector<KelSelection> selection_array_;
  struct GeometryRecord {
    KelGeomitemdata head;
    KelCsysData data;
  };
  std::map<KelGeomitemdata*, std::unique_ptr<GeometryRecord>> geometry_;
  std::map<const Csys*, const Model*> csys_owner_;
  int module_version_ = -1;
  FaultPlan faults_;
  bool fails_by_subject_ = false;
  std::vector<int> fired_;  // per rule: the calls it failed
  std::map<std::string, int> injected_;
  std::unordered_map<const char*, int> calls_;
  long sequence_ = 0;
  std::ostream* trace_ = nullptr;
  int code_page_ = 0;
  std::set<std::u16string> warned_;
  std::set<const KelGeomitemdata*> refused_releases_;
  std::vector<std::string> callback_exceptions_;
  // Calls a visit callback of the module; an exception leaving it is recorded and answered
  // KEL_TK_GENERAL_ERROR.
  template <class F>
  KelError visit_callback(const char* visit, F&& callback);
};

// A status by its name, or its number when it has none.
std::string status_text(KelError status);

// The sorted host function table (every name of the host function list).
std::vector<HostEntry> build_host_table();
// True when the entry is bound to a host function rather than the "not implemented" answer.
bool host_function_implemented(const HostEntry& entry);
// A host function's name as the user gives it: the table name without "_v".
std::string host_function_name(const char* symbol);
// True when `name` (without "_v") is in the host function table.
bool is_host_function(const std::string& name);

// The button pressed when none is named.
inline const ButtonName kDefaultButton{"assembly", "-CsysList"};

// Loads the module, performs the hand-shake, presses the buttons in order and unloads the module.
// Paths are UTF-8.
struct SessionOptions {
  std::string module;
  std::string text_root;
  std::string release = "21";
  std::string build = "2002100";
  int language = 0;
  std::string directory;  // current directory while the command runs; empty: unchanged
  FaultPlan faults;
  std::vector<ButtonName> presses{kDefaultButton};  // pressed in this order
  bool list_buttons = false;      // print the bound buttons instead of pressing any
  std::ostream* trace = nullptr;  // the call trace, or null
  int timeout = 0;                // seconds a button may run; 0: no limit
};

// mirax's exit statuses (the help text and the README list them).
enum ExitStatus {
  kExitOk = 0,
  kExitRefused = 1,      // the module refused the host, or a pressed button is not bound
  kExitUsage = 2,        // bad usage, a bad or too large model, an unwritable trace
  kExitNoModule = 3,     // the module cannot be loaded
  kExitMisbehaved = 4,   // records kept, a report missing or stale, exit(), a callback's exception
  kExitUnfiredRule = 5,  // a --fail rule failed no call
  kExitException = 6,    // an exception left the module's hand-shake, a button or its termination
  kExitCrash = 7,        // the module crashed or aborted
  kExitTimeout = 8,      // a button did not return within --timeout
};

struct SessionResult {
  ExitStatus status = kExitOk;
  bool report_written = false;
  CallCounts calls;  // every host function the module called, from the hand-shake to the unload
};

SessionResult run_session(const SessionOptions& options, const Assembly& assembly, Answers& answers,
                          std::ostream& out, std::ostream& err);

// The module's two entry points.
struct ModuleEntries {
  KelInitializeFn* initialize = nullptr;
  KelTerminateFn* terminate = nullptr;
};
// The session on entry points at hand (those of the module run_session loaded, or of a module
// linked into the calling program): hand-shake, press the buttons, terminate. `options.module`
// only gives the directory handed over at the hand-shake.
SessionResult run_module(const ModuleEntries& module, const SessionOptions& options,
                         const Assembly& assembly, Answers& answers, std::ostream& out,
                         std::ostream& err);

}  // namespace mirax
