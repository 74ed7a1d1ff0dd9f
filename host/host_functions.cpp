// The host function table: every name of the toolkit interface, each bound either to one of the
// host functions below (which forward to the Host found through the context handle) or to the
// "not implemented" answer. Every entry first reports the call to the Host, which counts it and
// may fail it on demand.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "host/encoding.h"
#include "host/guard.h"
#include "host/host.h"

namespace mirax {

namespace {

using nlohmann::json;

Host& host(void* handle) { return Host::from_handle(handle); }

KelError menu_file_register(void* h, const char* menu, const char* file, int* id, const char* dir) {
  return host(h).menu_register(menu, file, id, dir, false);
}
KelError menu_auxfile_register(void* h, const char* menu, const char* file, int* id,
                               const char* dir) {
  return host(h).menu_register(menu, file, id, dir, true);
}
KelError menubutton_action_set(void* h, const char* menu, const char* button,
                               KelButtonActionFn action, void* data, int value) {
  return host(h).button_action_set(menu, button, action, data, value);
}
// Ten message-argument words stand between the key and the text directory.
KelError message_display(void* h, const kel_wchar* file, const char* key, void*, void*, void*,
                         void*, void*, void*, void*, void*, void*, void*, const char* text_dir) {
  return host(h).message_display(file, key, text_dir);
}
KelError message_clear(void*) { return KEL_TK_NO_ERROR; }
KelError message_string_read(void* h, int max_length, kel_wchar* buffer) {
  return host(h).message_read(max_length, buffer);
}
KelError select(void* h, const char* filter, int max_count, void*, void*, void*, void*,
                KelSelection** out, int* count) {
  return host(h).select(filter, max_count, out, count);
}
KelError selection_modelitem_get(void* h, KelSelection sel, KelModelitem* item) {
  return host(h).selection_item(sel, item);
}
KelError selection_asmcomppath_get(void* h, KelSelection sel, KelAsmcomppath* path) {
  return host(h).selection_path(sel, path);
}
KelError modelitem_name_get(void* h, KelModelitem* item, kel_wchar* name) {
  return host(h).item_name(item, name);
}
KelError modelitem_init(void* h, KelMdl owner, int id, int type, KelModelitem* item) {
  return host(h).item_init(owner, id, type, item);
}
KelError csys_init(void* h, KelMdl owner, int id, KelCsys* out) {
  return host(h).csys_init(owner, id, out);
}
KelError csys_id_get(void* h, KelCsys csys, int* id) { return host(h).csys_id(csys, id); }
KelError csys_data_get(void* h, KelCsys csys, KelGeomitemdata** out) {
  return host(h).csys_data(csys, out);
}
KelError geomitemdata_free(void* h, KelGeomitemdata** data) { return host(h).geometry_free(data); }
KelError asmcomppath_trf_get(void* h, KelAsmcomppath* path, int top_down, double* out) {
  return host(h).path_transform(path, top_down, out);
}
KelError asmcomppath_init(void* h, KelMdl owner, const int32_t* ids, int count,
                          KelAsmcomppath* out) {
  return host(h).path_init(owner, ids, count, out);
}
KelError mdl_current_get(void* h, KelMdl* out) { return host(h).current_model(out); }
KelError mdl_type_get(void* h, KelMdl model, int* out) { return host(h).model_type(model, out); }
KelError mdl_name_get(void* h, KelMdl model, kel_wchar* out) {
  return host(h).model_name(model, out);
}
KelError solid_feat_visit(void* h, KelMdl model, KelFeatureActionFn action,
                          KelFeatureFilterFn filter, void* data) {
  return host(h).feature_visit(model, action, filter, data);
}
KelError solid_csys_visit(void* h, KelMdl model, KelCsysActionFn action, KelCsysFilterFn filter,
                          void* data) {
  return host(h).csys_visit(model, action, filter, data);
}
KelError feature_type_get(void* h, KelFeature* feature, int* out) {
  return host(h).feature_type(feature, out);
}
KelError asmcomp_mdl_get(void* h, KelFeature* feature, KelMdl* out) {
  return host(h).component_model(feature, out);
}
KelError array_size_get(void* h, void* array, int* out) { return host(h).array_size(array, out); }
int pass_version_info(void* h, int version) { return host(h).accept_version(version); }

template <class F>
void* address(F* f) {
  return reinterpret_cast<void*>(f);
}

// Every name of the host function list: the stubs' names with "_v", and the entry the
// plug-in's termination call looks up under its bare name.
constexpr const char* kHostFunctionNames[] = {
#define KEL_HOST_FN(name, words) #name "_v",
#include "binding/host_functions.def"
    "kel_term_plus",
};
constexpr size_t kHostFunctionCount = std::size(kHostFunctionNames);

// What a call is about, for the fault rules that pick calls by it: the model, csys, pick or
// model item its first argument gives.
template <class First, class... Rest>
std::string_view subject(const Host& host, First first, Rest...) {
  if constexpr (std::is_same_v<First, void*> || std::is_convertible_v<First, const KelModelitem*>)
    return host.subject_of(first);
  else
    return {};
}
std::string_view subject(const Host&) { return {}; }

// ---- the call trace -------------------------------------------------------------------------

std::string handle_text(uintptr_t handle) {
  char text[2 + 2 * sizeof handle + 1];
  std::snprintf(text, sizeof text, "0x%0*llx", static_cast<int>(2 * sizeof handle),
                static_cast<unsigned long long>(handle));
  return text;
}

// One argument as the trace shows it: numbers as numbers, texts as strings, model items and
// component paths as objects, what an output argument received once the call succeeded (null on
// failure), and every other pointer as a handle. Inputs are read before the call (`before`),
// outputs after it; the other phase gives a discarded value.
template <class T>
json trace_value(T value, bool before, bool succeeded) {
  using Pointee = std::remove_cv_t<std::remove_pointer_t<T>>;
  constexpr bool handle_out = std::is_pointer_v<Pointee> && !std::is_function_v<Pointee> &&
                              !std::is_same_v<Pointee, KelGeomitemdata*>;  // freed: an input
  constexpr bool output = handle_out || std::is_same_v<T, kel_wchar*> || std::is_same_v<T, int*> ||
                          std::is_same_v<Pointee, KelModelitem> ||
                          std::is_same_v<Pointee, KelAsmcomppath>;
  if (before == output) return json(json::value_t::discarded);
  if constexpr (std::is_arithmetic_v<T>) {
    return value;
  } else if constexpr (std::is_same_v<T, const char*>) {
    return value ? json(std::string(value)) : json();
  } else if constexpr (std::is_same_v<T, const kel_wchar*> || std::is_same_v<T, kel_wchar*>) {
    if (!value || (output && !succeeded)) return json();
    return wide_to_utf8(std::u16string_view(value, wide_length(value)));
  } else if constexpr (std::is_same_v<T, int*>) {
    return value && succeeded ? json(*value) : json();
  } else if constexpr (std::is_pointer_v<Pointee> && !std::is_function_v<Pointee>) {
    // A handle received (a model, a csys, a selection array) or handed back (a geometry record).
    return value && (succeeded || !output) ? json(handle_text(reinterpret_cast<uintptr_t>(*value)))
                                           : json();
  } else if constexpr (std::is_same_v<Pointee, KelModelitem>) {
    if (!value) return json();
    return json{{"type", value->type},
                {"id", value->id},
                {"owner", handle_text(reinterpret_cast<uintptr_t>(value->owner))}};
  } else if constexpr (std::is_same_v<Pointee, KelAsmcomppath>) {
    if (!value) return json();
    json ids = json::array();
    for (int i = 0; i < std::clamp<int>(value->count, 0, KEL_PATH_MAX_DEPTH); ++i)
      ids.push_back(value->ids[i]);
    return json{{"owner", handle_text(reinterpret_cast<uintptr_t>(value->owner))}, {"ids", ids}};
  } else {
    return value ? json(handle_text(reinterpret_cast<uintptr_t>(value))) : json();
  }
}

template <class... A>
json trace_args([[maybe_unused]] bool before, [[maybe_unused]] bool succeeded, A... args) {
  json array = json::array();
  (array.push_back(trace_value(args, before, succeeded)), ...);
  return array;
}

// The inputs read before the call joined with the outputs read after it, as JSON text.
std::string trace_text(json inputs, const json& outputs) {
  for (size_t i = 0; i < inputs.size(); ++i)
    if (inputs[i].is_discarded()) inputs[i] = outputs[i];
  return inputs.dump(-1, ' ', false, json::error_handler_t::replace);
}

// An implemented host function entered through the call count: `Symbol` indexes the names above.
// No exception leaves a host function: the module's frames lie between it and mirax.
template <size_t Symbol, auto F>
struct Counted;
template <size_t Symbol, class R, class... A, R (*F)(void*, A...)>
struct Counted<Symbol, F> {
  static R call(void* h, A... a) {
    const char* symbol = kHostFunctionNames[Symbol];
    Host& entered = host(h);
    R status = static_cast<R>(KEL_TK_GENERAL_ERROR);
    try {
      const std::string_view about =
          entered.fails_by_subject() ? subject(entered, a...) : std::string_view();
      const CallStart start = entered.call_begins(symbol, about);
      const json inputs = entered.tracing() ? trace_args(true, true, a...) : json();
      if (start.failure) {
        status = static_cast<R>(*start.failure);
        // A release failed on purpose excuses exactly that record.
        if constexpr (std::is_same_v<void(A...), void(KelGeomitemdata**)>)
          entered.release_refused(a...);
      } else {
        status = F(h, a...);
      }
      guard::answered(symbol, start.call);
      if (entered.tracing()) {
        const bool succeeded = status == static_cast<R>(KEL_TK_NO_ERROR);
        entered.trace_call(symbol, start, status,
                           trace_text(inputs, trace_args(false, succeeded, a...)));
      }
    } catch (const std::bad_alloc&) {
      entered.complain(symbol, "out of memory");
      status = static_cast<R>(KEL_TK_OUT_OF_MEMORY);
    } catch (const std::exception& e) {
      entered.complain(symbol, e.what());
    }
    return status;
  }
};

// Caller-cleans: one function per name serves every argument count (the context handle comes
// first, or alone for "kel_term_plus"); the arguments are not known.
template <size_t Symbol>
KelError not_implemented(void* h) {
  const char* symbol = kHostFunctionNames[Symbol];
  Host& entered = host(h);
  KelError status = KEL_TK_GENERAL_ERROR;
  try {
    const CallStart start = entered.call_begins(symbol);
    status = start.failure ? *start.failure : KEL_TK_NOT_IMPLEMENTED;
    guard::answered(symbol, start.call);
    if (entered.tracing()) entered.trace_call(symbol, start, status, "null");
  } catch (const std::exception& e) {
    entered.complain(symbol, e.what());
  }
  return status;
}

template <size_t... I>
std::array<void*, sizeof...(I)> not_implemented_entries(std::index_sequence<I...>) {
  return {address(not_implemented<I>)...};
}
const std::array<void*, kHostFunctionCount> kNotImplemented =
    not_implemented_entries(std::make_index_sequence<kHostFunctionCount>());

constexpr size_t symbol_index(const char* name) {
  for (size_t i = 0; i < kHostFunctionCount; ++i)
    if (std::string_view(kHostFunctionNames[i]) == name) return i;
  throw "not a host function";  // compile-time error
}

struct Implemented {
  const char* name;
  void* function;
};

#define KEL_IMPLEMENTED(symbol, function) \
  { symbol, address(Counted<symbol_index(symbol), function>::call) }

const Implemented kImplemented[] = {
    KEL_IMPLEMENTED("KelArraySizeGet_v", array_size_get),
    KEL_IMPLEMENTED("KelAsmcompMdlGet_v", asmcomp_mdl_get),
    KEL_IMPLEMENTED("KelAsmcomppathInit_v", asmcomppath_init),
    KEL_IMPLEMENTED("KelAsmcomppathTrfGet_v", asmcomppath_trf_get),
    KEL_IMPLEMENTED("KelCsysDataGet_v", csys_data_get),
    KEL_IMPLEMENTED("KelCsysIdGet_v", csys_id_get),
    KEL_IMPLEMENTED("KelCsysInit_v", csys_init),
    KEL_IMPLEMENTED("KelFeatureTypeGet_v", feature_type_get),
    KEL_IMPLEMENTED("KelGeomitemdataFree_v", geomitemdata_free),
    KEL_IMPLEMENTED("KelMdlCurrentGet_v", mdl_current_get),
    KEL_IMPLEMENTED("KelMdlNameGet_v", mdl_name_get),
    KEL_IMPLEMENTED("KelMdlTypeGet_v", mdl_type_get),
    KEL_IMPLEMENTED("KelMenuAuxfileRegister_v", menu_auxfile_register),
    KEL_IMPLEMENTED("KelMenuFileRegister_v", menu_file_register),
    KEL_IMPLEMENTED("KelMenubuttonActionSet_v", menubutton_action_set),
    KEL_IMPLEMENTED("KelMessageClear_v", message_clear),
    KEL_IMPLEMENTED("KelMessageDisplay_v", message_display),
    KEL_IMPLEMENTED("KelMessageStringRead_v", message_string_read),
    KEL_IMPLEMENTED("KelModelitemInit_v", modelitem_init),
    KEL_IMPLEMENTED("KelModelitemNameGet_v", modelitem_name_get),
    KEL_IMPLEMENTED("KelSelect_v", select),
    KEL_IMPLEMENTED("KelSelectionAsmcomppathGet_v", selection_asmcomppath_get),
    KEL_IMPLEMENTED("KelSelectionModelitemGet_v", selection_modelitem_get),
    KEL_IMPLEMENTED("KelSolidCsysVisit_v", solid_csys_visit),
    KEL_IMPLEMENTED("KelSolidFeatVisit_v", solid_feat_visit),
    KEL_IMPLEMENTED("keldev_pass_version_info_v", pass_version_info),
};
#undef KEL_IMPLEMENTED

}  // namespace

std::vector<HostEntry> build_host_table() {
  std::vector<HostEntry> table;
  table.reserve(std::size(kHostFunctionNames));
  for (size_t i = 0; i < kHostFunctionCount; ++i) {
    const char* name = kHostFunctionNames[i];
    void* function = kNotImplemented[i];
    for (const auto& impl : kImplemented)
      if (std::strcmp(impl.name, name) == 0) function = impl.function;
    table.push_back({function, name});
  }
  std::sort(table.begin(), table.end(),
            [](const HostEntry& a, const HostEntry& b) { return std::strcmp(a.name, b.name) < 0; });
  return table;
}

bool host_function_implemented(const HostEntry& entry) {
  return std::any_of(std::begin(kImplemented), std::end(kImplemented),
                     [&](const Implemented& impl) { return impl.function == entry.function; });
}

std::string host_function_name(const char* symbol) {
  std::string name = symbol;
  if (name.size() > 2 && name.compare(name.size() - 2, 2, "_v") == 0) name.resize(name.size() - 2);
  return name;
}

bool is_host_function(const std::string& name) {
  return std::any_of(std::begin(kHostFunctionNames), std::end(kHostFunctionNames),
                     [&](const char* symbol) { return host_function_name(symbol) == name; });
}

}  // namespace mirax
