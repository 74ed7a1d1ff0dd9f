// Typed host calls: the calls the test bench (mirax) answers, declared with the types of their
// arguments, so that a wrong argument - a handle where its address is wanted, a model where a
// feature is wanted - does not compile. Every other host call keeps its untyped stub
// (host_stubs.h), whose words convert from any 32-bit value.
//
// Each call is the stub of its KEL_HOST_FN_TYPED row of host_functions.def: it forwards its
// arguments, in order, as that row's words, with the host context handle in front. Below each
// definition a static_assert checks that the row exists and that the parameters make exactly its
// number of 4-byte words, so the two cannot drift apart.
//
// Statuses common to all: KEL_TK_NO_ERROR (0) the call did its work; KEL_TK_BAD_INPUTS a null,
// unknown or released handle or address, or a value out of range; KEL_TK_GENERAL_ERROR (-1) the
// host has no such function. Only what a call adds to these is named at the call. Outputs are
// written on KEL_TK_NO_ERROR only.
//
// Part of host_stubs.h: include that header, not this one.
#pragma once

#ifdef __cplusplus
namespace kel_stub {

// The number of 4-byte words a parameter list makes.
template <class R, class... A>
constexpr int words_of(R (*)(A...)) {
  return (0 + ... + static_cast<int>((sizeof(A) + 3) / 4));
}

// Calls the host function `symbol` with the context handle followed by `a`; -1 when unbound.
template <class... A>
inline KelError forward(void*& cache, const char* symbol, A... a) {
  auto fn = bound<int32_t (*)(int32_t, A...)>(cache, symbol, symbol);
  if (!fn) return KEL_TK_GENERAL_ERROR;
  return fn(kel_binding.context_handle, a...);
}

}  // namespace kel_stub

// A typed stub `name(params)` forwarding the arguments `...` (and for the _DIR form the
// binding's directory `dir` after them), checked against its row of host_functions.def.
#define KEL_TYPED_CHECK(name)                                           \
  static_assert(kel_stub::words_of(&name) == kel_stub::row_words::name, \
                #name ": the parameters do not make the words of its row in host_functions.def");
#define KEL_TYPED_CALL(name, params, ...)                     \
  inline KelError name params {                               \
    static void* cache;                                       \
    return kel_stub::forward(cache, #name "_v", __VA_ARGS__); \
  }                                                           \
  KEL_TYPED_CHECK(name)
#define KEL_TYPED_CALL_DIR(name, dir, params, ...)                       \
  inline KelError name params {                                          \
    static void* cache;                                                  \
    return kel_stub::forward(cache, #name "_v", __VA_ARGS__,             \
                             static_cast<const char*>(kel_binding.dir)); \
  }                                                                      \
  KEL_TYPED_CHECK(name)
#else
// In C the typed calls are declared only, with the same parameters; a C caller links to the
// module's copies (host_stubs.cpp).
#define KEL_TYPED_CALL(name, params, ...)          KelError name params;
#define KEL_TYPED_CALL_DIR(name, dir, params, ...) KelError name params;
#endif

KEL_BEGIN_C

// --- Menus ---

// Loads the menu file `file` (8-bit name, found in the plug-in's menus directory) for the menu
// `menu` and writes its id to `*menu_id`. KEL_TK_CANT_OPEN: no such file; KEL_TK_INVALID_FILE:
// the file is not a menu file.
KEL_TYPED_CALL_DIR(KelMenuFileRegister, menus_directory,
                   (const char* menu, const char* file, int* menu_id), menu, file, menu_id)
// Same for the menu's auxiliary file (its labels).
KEL_TYPED_CALL_DIR(KelMenuAuxfileRegister, menus_directory,
                   (const char* menu, const char* file, int* menu_id), menu, file, menu_id)
// Makes a press of the button `button` of `menu` call `action(app_data, app_int)`.
// KEL_TK_E_NOT_FOUND: the menu has no such button.
KEL_TYPED_CALL(KelMenubuttonActionSet,
               (const char* menu, const char* button, KelButtonActionFn action, void* app_data,
                int app_int),
               menu, button, action, app_data, app_int)

// --- Messages (KelMessageDisplay and KelMessageClear are in host_stubs.h: the first forwards
// ten message words of any type, the second has no arguments) ---

// Asks the user for a line and writes at most `max_length` wide characters and a terminator to
// `reply`. KEL_TK_USER_ABORT: the user gave no reply.
KEL_TYPED_CALL(KelMessageStringRead, (int max_length, kel_wchar* reply), max_length, reply)

// --- Selection ---

// Lets the user pick up to `max_count` items of the kind `filter` ("csys"); the four null
// arguments are an initial selection, selection functions, an environment and an application
// action. Writes the host's array of picked handles to `*selections` and its length to `*count`.
// KEL_TK_USER_ABORT: the user picked nothing.
KEL_TYPED_CALL(KelSelect,
               (const char* filter, int max_count, void* initial, void* functions,
                void* environment, void* action, KelSelection** selections, int* count),
               filter, max_count, initial, functions, environment, action, selections, count)
// Fills `*item` with the model item (id and owner) of a picked handle.
KEL_TYPED_CALL(KelSelectionModelitemGet, (KelSelection selection, KelModelitem* item), selection,
               item)
// Fills `*path` with the component path leading to a picked item (count 0: the item belongs to
// the current model itself).
KEL_TYPED_CALL(KelSelectionAsmcomppathGet, (KelSelection selection, KelAsmcomppath* path),
               selection, path)
// Writes the element count of a host array (such as the selection array) to `*size`.
KEL_TYPED_CALL(KelArraySizeGet, (void* array, int* size), array, size)

// --- Models, model items, features ---

// Writes the model currently shown to `*model`. KEL_TK_E_NOT_FOUND: no model is shown.
KEL_TYPED_CALL(KelMdlCurrentGet, (KelMdl * model), model)
// Writes the model's type (KEL_MDL_ASSEMBLY or KEL_MDL_PART) to `*type`.
KEL_TYPED_CALL(KelMdlTypeGet, (KelMdl model, int* type), model, type)
// Writes the model's name, zero-terminated, to `name` (KEL_NAME_SIZE wide characters).
KEL_TYPED_CALL(KelMdlNameGet, (KelMdl model, kel_wchar* name), model, name)
// Fills `*item` with the item `id` of type `type` (KEL_ITEM_CSYS) owned by `owner`.
// KEL_TK_E_NOT_FOUND: the model has no such item.
KEL_TYPED_CALL(KelModelitemInit, (KelMdl owner, int id, int type, KelModelitem* item), owner, id,
               type, item)
// Writes the item's name, zero-terminated, to `name` (KEL_NAME_SIZE wide characters).
// KEL_TK_E_NOT_FOUND: the item names nothing.
KEL_TYPED_CALL(KelModelitemNameGet, (const KelModelitem* item, kel_wchar* name), item, name)
// Writes a feature's type (KEL_FEAT_COMPONENT for a component) to `*type`.
KEL_TYPED_CALL(KelFeatureTypeGet, (const KelFeature* feature, int* type), feature, type)
// Writes the model a component feature places to `*model`. KEL_TK_INVALID_TYPE: the feature is
// not a component.
KEL_TYPED_CALL(KelAsmcompMdlGet, (const KelFeature* feature, KelMdl* model), feature, model)
// Calls `filter` (when not null) for each feature of `model` in feature order, and `action` for
// each one the filter admits (its status is handed to the action); both receive `app_data`.
KEL_TYPED_CALL(KelSolidFeatVisit,
               (KelMdl model, KelFeatureActionFn action, KelFeatureFilterFn filter, void* app_data),
               model, action, filter, app_data)

// --- Component paths ---

// Fills `*path` with the path `ids[0..count-1]` owned by `owner` (count 0: the owner itself).
KEL_TYPED_CALL(KelAsmcomppathInit,
               (KelMdl owner, const int32_t* ids, int count, KelAsmcomppath* path), owner, ids,
               count, path)
// Writes to `transform` the transform taking the path's last component's coordinates into the
// owner's (`top_down` 1) or back (0). KEL_TK_E_NOT_FOUND: the path names no component.
KEL_TYPED_CALL(KelAsmcomppathTrfGet,
               (const KelAsmcomppath* path, int top_down, double (*transform)[4]), path, top_down,
               transform)

// --- Coordinate systems ---

// Writes the handle of the csys `id` of `owner` to `*csys`. KEL_TK_E_NOT_FOUND: no such csys.
KEL_TYPED_CALL(KelCsysInit, (KelMdl owner, int id, KelCsys* csys), owner, id, csys)
// Writes the csys's item id to `*id`.
KEL_TYPED_CALL(KelCsysIdGet, (KelCsys csys, int* id), csys, id)
// Writes a new geometry record of the csys to `*data`; release it with KelGeomitemdataFree.
KEL_TYPED_CALL(KelCsysDataGet, (KelCsys csys, KelGeomitemdata** data), csys, data)
// Releases the record `*data` (the address of the pointer KelCsysDataGet filled).
// KEL_TK_BAD_INPUTS also when the record is not held (released twice).
KEL_TYPED_CALL(KelGeomitemdataFree, (KelGeomitemdata * *data), data)
// Calls `filter` (when not null) for each csys of `model`, and `action` for each one it admits;
// both receive `app_data`.
KEL_TYPED_CALL(KelSolidCsysVisit,
               (KelMdl model, KelCsysActionFn action, KelCsysFilterFn filter, void* app_data),
               model, action, filter, app_data)

KEL_END_C

#undef KEL_TYPED_CALL
#undef KEL_TYPED_CALL_DIR
#undef KEL_TYPED_CHECK
