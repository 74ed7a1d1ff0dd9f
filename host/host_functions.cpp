// The host function table: every name of the toolkit interface, each bound either to one of the
// host functions below (which forward to the Host found through the context handle) or to the
// "not implemented" answer.
#include <algorithm>
#include <cstring>
#include <string>

#include "host/host.h"

namespace mirax {

namespace {

// Caller-cleans: the one function serves every argument count.
KelError not_implemented(void*) { return KEL_TK_NOT_IMPLEMENTED; }

Host& host(void* handle) { return Host::from_handle(handle); }

KelError menu_file_register(void* h, const char* menu, const char* file, int* id, const char* dir) {
  return host(h).menu_register(menu, file, id, dir, false);
}
KelError menu_auxfile_register(void* h, const char* menu, const char* file, int* id, const char* dir) {
  return host(h).menu_register(menu, file, id, dir, true);
}
KelError menubutton_action_set(void* h, const char* menu, const char* button, KelButtonActionFn action,
                               void* data, int value) {
  return host(h).button_action_set(menu, button, action, data, value);
}
// Ten message-argument words stand between the key and the text directory.
KelError message_display(void* h, const kel_wchar* file, const char* key, void*, void*, void*, void*, void*,
                         void*, void*, void*, void*, void*, const char* text_dir) {
  return host(h).message_display(file, key, text_dir);
}
KelError message_clear(void*) { return KEL_TK_NO_ERROR; }
KelError message_string_read(void* h, int max_length, kel_wchar* buffer) {
  return host(h).message_read(max_length, buffer);
}
KelError select(void* h, const char* filter, int max_count, void*, void*, void*, void*, KelSelection** out,
                int* count) {
  return host(h).select(filter, max_count, out, count);
}
KelError selection_modelitem_get(void* h, KelSelection sel, KelModelitem* item) {
  return host(h).selection_item(sel, item);
}
KelError selection_asmcomppath_get(void* h, KelSelection sel, KelAsmcomppath* path) {
  return host(h).selection_path(sel, path);
}
KelError modelitem_name_get(void* h, KelModelitem* item, kel_wchar* name) { return host(h).item_name(item, name); }
KelError modelitem_init(void* h, KelMdl owner, int id, int type, KelModelitem* item) {
  return host(h).item_init(owner, id, type, item);
}
KelError csys_init(void* h, KelMdl owner, int id, KelCsys* out) { return host(h).csys_init(owner, id, out); }
KelError csys_id_get(void* h, KelCsys csys, int* id) { return host(h).csys_id(csys, id); }
KelError csys_data_get(void* h, KelCsys csys, KelGeomitemdata** out) { return host(h).csys_data(csys, out); }
KelError geomitemdata_free(void* h, KelGeomitemdata** data) { return host(h).geometry_free(data); }
KelError asmcomppath_trf_get(void* h, KelAsmcomppath* path, int top_down, double* out) {
  return host(h).path_transform(path, top_down, out);
}
KelError asmcomppath_init(void* h, KelMdl owner, const int32_t* ids, int count, KelAsmcomppath* out) {
  return host(h).path_init(owner, ids, count, out);
}
KelError mdl_current_get(void* h, KelMdl* out) { return host(h).current_model(out); }
KelError mdl_type_get(void* h, KelMdl model, int* out) { return host(h).model_type(model, out); }
KelError mdl_name_get(void* h, KelMdl model, kel_wchar* out) { return host(h).model_name(model, out); }
KelError solid_feat_visit(void* h, KelMdl model, KelFeatureActionFn action, KelFeatureFilterFn filter, void* data) {
  return host(h).feature_visit(model, action, filter, data);
}
KelError solid_csys_visit(void* h, KelMdl model, KelCsysActionFn action, KelCsysFilterFn filter, void* data) {
  return host(h).csys_visit(model, action, filter, data);
}
KelError feature_type_get(void* h, KelFeature* feature, int* out) { return host(h).feature_type(feature, out); }
KelError asmcomp_mdl_get(void* h, KelFeature* feature, KelMdl* out) { return host(h).component_model(feature, out); }
KelError array_size_get(void* h, void* array, int* out) { return host(h).array_size(array, out); }
int pass_version_info(void* h, int version) { return host(h).accept_version(version); }

struct Implemented {
  const char* name;
  void* function;
};

template <class F>
void* address(F* f) {
  return reinterpret_cast<void*>(f);
}

const Implemented kImplemented[] = {
    {"KelArraySizeGet_v", address(array_size_get)},
    {"KelAsmcompMdlGet_v", address(asmcomp_mdl_get)},
    {"KelAsmcomppathInit_v", address(asmcomppath_init)},
    {"KelAsmcomppathTrfGet_v", address(asmcomppath_trf_get)},
    {"KelCsysDataGet_v", address(csys_data_get)},
    {"KelCsysIdGet_v", address(csys_id_get)},
    {"KelCsysInit_v", address(csys_init)},
    {"KelFeatureTypeGet_v", address(feature_type_get)},
    {"KelGeomitemdataFree_v", address(geomitemdata_free)},
    {"KelMdlCurrentGet_v", address(mdl_current_get)},
    {"KelMdlNameGet_v", address(mdl_name_get)},
    {"KelMdlTypeGet_v", address(mdl_type_get)},
    {"KelMenuAuxfileRegister_v", address(menu_auxfile_register)},
    {"KelMenuFileRegister_v", address(menu_file_register)},
    {"KelMenubuttonActionSet_v", address(menubutton_action_set)},
    {"KelMessageClear_v", address(message_clear)},
    {"KelMessageDisplay_v", address(message_display)},
    {"KelMessageStringRead_v", address(message_string_read)},
    {"KelModelitemInit_v", address(modelitem_init)},
    {"KelModelitemNameGet_v", address(modelitem_name_get)},
    {"KelSelect_v", address(select)},
    {"KelSelectionAsmcomppathGet_v", address(selection_asmcomppath_get)},
    {"KelSelectionModelitemGet_v", address(selection_modelitem_get)},
    {"KelSolidCsysVisit_v", address(solid_csys_visit)},
    {"KelSolidFeatVisit_v", address(solid_feat_visit)},
    {"keldev_pass_version_info_v", address(pass_version_info)},
};

// Every name of the host function list: the stubs' names with "_v", and the entry the
// plug-in's termination call looks up under its bare name.
const char* const kHostFunctionNames[] = {
#define KEL_HOST_FN(name, words) #name "_v",
#include "binding/host_functions.def"
    "kel_term_plus",
};

}  // namespace

std::vector<HostEntry> build_host_table() {
  std::vector<HostEntry> table;
  table.reserve(std::size(kHostFunctionNames));
  for (const char* name : kHostFunctionNames) {
    void* function = address(not_implemented);
    for (const auto& impl : kImplemented)
      if (std::strcmp(impl.name, name) == 0) function = impl.function;
    table.push_back({function, name});
  }
  std::sort(table.begin(), table.end(),
            [](const HostEntry& a, const HostEntry& b) { return std::strcmp(a.name, b.name) < 0; });
  return table;
}

bool host_function_implemented(const HostEntry& entry) { return entry.function != address(not_implemented); }

}  // namespace mirax
