#include "fake_host.h"

#include <algorithm>
#include <cstring>

#include "binding/host_binding.h"

namespace fake {
namespace {

using Wide = kel_wchar;

bool fails(const char* call, const std::string& who = {}) {
  const auto& f = host().script.failing;
  return f.count(call) || (!who.empty() && f.count(std::string(call) + ":" + who));
}

void wide_name(const std::string& name, Wide* out) {
  size_t i = 0;
  for (; i < name.size() && i < KEL_NAME_SIZE - 1; ++i)
    out[i] = static_cast<unsigned char>(name[i]);
  out[i] = 0;
}

Feature* feature_of(KelFeature* f) { return reinterpret_cast<Feature*>(f); }
Model* model_of(KelMdl m) { return static_cast<Model*>(m); }
Csys* csys_of(KelCsys c) { return static_cast<Csys*>(c); }

Csys* find_csys(Model* owner, int id) {
  if (!owner) return nullptr;
  for (auto& c : owner->csys)
    if (c->id == id) return c.get();
  return nullptr;
}

void multiply(const Transform a, const Transform b, Transform out) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[i][k] * b[k][j];
      out[i][j] = sum;
    }
}

// ---- host functions: the context handle first, then the stub's words ----

KelError menu_register(int32_t, const char* menu, const char* file, int* id, const char* dir) {
  host().registrations.push_back(std::string(menu) + " " + file + " " + dir);
  *id = 7;
  return 0;
}
KelError button_set(int32_t, const char* menu, const char* button, KelButtonActionFn fn, void*,
                    int) {
  host().button_name = std::string(menu) + " " + button;
  host().button = fn;
  return 0;
}
KelError message_display(int32_t, const Wide* file, const char* key, int, int, int, int, int, int,
                         int, int, int, int, const char*) {
  std::string f;
  for (; *file; ++file) f += static_cast<char>(*file);
  host().messages.push_back(f + ":" + key);
  return 0;
}
void message_clear(int32_t) {}
KelError string_read(int32_t, int max, Wide* buffer) {
  Script& s = host().script;
  host().reply_limit = max;
  if (s.read_status != 0) return s.read_status;
  const size_t n = std::min<size_t>(s.reply.size(), static_cast<size_t>(max));
  std::copy_n(s.reply.begin(), n, buffer);
  buffer[n] = 0;
  return 0;
}

struct Selection {
  Model* owner;
  int id;
  std::vector<int> path;
};
Selection the_selection;
KelSelection the_selections[1] = {&the_selection};

KelError select(int32_t, const char* filter, int max, void*, void*, void*, void*,
                KelSelection** out, int* count) {
  const Script& s = host().script;
  if (std::strcmp(filter, "csys") != 0 || max != 1) return KEL_TK_BAD_INPUTS;
  if (s.select_status != 0) return s.select_status;
  the_selection = {s.pick_owner, s.pick_csys_id, s.pick_path};
  *out = the_selections;
  *count = s.select_count;
  return 0;
}
KelError selection_item(int32_t, KelSelection sel, KelModelitem* item) {
  if (fails("KelSelectionModelitemGet")) return KEL_TK_GENERAL_ERROR;
  auto* s = static_cast<Selection*>(sel);
  *item = {KEL_ITEM_CSYS, s->id, s->owner};
  return 0;
}
KelError selection_path(int32_t, KelSelection sel, KelAsmcomppath* path) {
  if (fails("KelSelectionAsmcomppathGet")) return KEL_TK_GENERAL_ERROR;
  auto* s = static_cast<Selection*>(sel);
  *path = {};
  path->owner = host().current;
  for (int id : s->path) path->ids[path->count++] = id;
  return 0;
}
KelError item_name(int32_t, KelModelitem* item, Wide* name) {
  Csys* c = find_csys(model_of(item->owner), item->id);
  if (!c || fails("KelModelitemNameGet", c->name)) return KEL_TK_E_NOT_FOUND;
  wide_name(c->name, name);
  return 0;
}
KelError csys_init(int32_t, KelMdl owner, int id, KelCsys* out) {
  Csys* c = find_csys(model_of(owner), id);
  if (!c || fails("KelCsysInit", c->name)) return KEL_TK_E_NOT_FOUND;
  *out = c;
  return 0;
}
KelError csys_data(int32_t, KelCsys csys, KelGeomitemdata** out) {
  if (fails("KelCsysDataGet", csys_of(csys)->name)) return KEL_TK_GENERAL_ERROR;
  *out = new KelGeomitemdata{KEL_ITEM_CSYS, new KelCsysData(csys_of(csys)->data)};
  ++host().open_data;
  return 0;
}
KelError data_free(int32_t, KelGeomitemdata** data) {
  if (!data || !*data) return KEL_TK_BAD_INPUTS;
  delete (*data)->csys;
  delete *data;
  *data = nullptr;
  --host().open_data;
  return 0;
}
KelError path_trf(int32_t, KelAsmcomppath* path, int top_down, double* out) {
  if (top_down != 1 || fails("KelAsmcomppathTrfGet")) return KEL_TK_GENERAL_ERROR;
  component_transform(*model_of(path->owner), std::vector<int>(path->ids, path->ids + path->count),
                      reinterpret_cast<double(*)[4]>(out));
  return 0;
}
KelError current_get(int32_t, KelMdl* out) {
  if (fails("KelMdlCurrentGet")) return KEL_TK_GENERAL_ERROR;
  *out = host().current;
  return 0;
}
KelError path_init(int32_t, KelMdl owner, const int32_t* ids, int count, KelAsmcomppath* out) {
  out->owner = owner;
  std::copy_n(ids, count, out->ids);
  out->count = count;
  return 0;
}
KelError feat_visit(int32_t, KelMdl model, KelFeatureActionFn action, KelFeatureFilterFn filter,
                    void* data) {
  for (auto& f : model_of(model)->features) {
    KelError status = filter ? filter(&f->item, data) : 0;
    if (status == KEL_TK_CONTINUE) continue;
    if (status != 0) return status;
    status = action(&f->item, status, data);
    if (status != 0) return status;
  }
  return 0;
}
KelError feature_type(int32_t, KelFeature* f, int* type) {
  if (fails("KelFeatureTypeGet")) return KEL_TK_GENERAL_ERROR;
  *type = feature_of(f)->type;
  return 0;
}
KelError comp_model(int32_t, KelFeature* f, KelMdl* out) {
  Model* child = feature_of(f)->child;
  if (!child || fails("KelAsmcompMdlGet", child->name)) return KEL_TK_GENERAL_ERROR;
  *out = child;
  return 0;
}
KelError model_type(int32_t, KelMdl m, int* type) {
  if (!m || fails("KelMdlTypeGet", model_of(m)->name)) return KEL_TK_GENERAL_ERROR;
  *type = model_of(m)->type;
  return 0;
}
KelError model_name(int32_t, KelMdl m, Wide* name) {
  if (!m || fails("KelMdlNameGet", model_of(m)->name)) return KEL_TK_GENERAL_ERROR;
  wide_name(model_of(m)->name, name);
  return 0;
}
KelError csys_visit(int32_t, KelMdl model, KelCsysActionFn action, KelCsysFilterFn filter,
                    void* data) {
  for (auto& c : model_of(model)->csys) {
    KelError status = filter ? filter(c.get(), data) : 0;
    if (status == KEL_TK_CONTINUE) continue;
    if (status != 0) return status;
    status = action(c.get(), status, data);
    if (status != 0) return status;
  }
  return 0;
}
KelError csys_id(int32_t, KelCsys csys, int* id) {
  if (fails("KelCsysIdGet", csys_of(csys)->name)) return KEL_TK_GENERAL_ERROR;
  *id = csys_of(csys)->id;
  return 0;
}
KelError item_init(int32_t, KelMdl owner, int id, int type, KelModelitem* out) {
  if (fails("KelModelitemInit")) return KEL_TK_GENERAL_ERROR;
  *out = {type, id, owner};
  return 0;
}
int pass_version(int32_t, int) { return 1; }

template <class F>
KelHostFunctionEntry entry(const char* name, F* fn) {
  return {reinterpret_cast<void*>(fn), name};
}

}  // namespace

Host& host() {
  static Host h;
  return h;
}

Csys& Model::add_csys(const std::string& csys_name, const Vector3 origin, const Vector3 x,
                      const Vector3 y, const Vector3 z) {
  static const Vector3 ex = {1, 0, 0}, ey = {0, 1, 0}, ez = {0, 0, 1};
  auto c = std::make_unique<Csys>();
  c->name = csys_name;
  c->id = 100 + static_cast<int>(csys.size());
  std::copy_n(origin, 3, c->data.origin);
  std::copy_n(x ? x : ex, 3, c->data.x_axis);
  std::copy_n(y ? y : ey, 3, c->data.y_axis);
  std::copy_n(z ? z : ez, 3, c->data.z_axis);
  csys.push_back(std::move(c));
  return *csys.back();
}

Feature& Model::add_component(Model& child, int feature_id, int quarter_turns,
                              const Vector3 shift) {
  static const double cosines[4] = {1, 0, -1, 0};
  const double c = cosines[quarter_turns & 3], s = cosines[(quarter_turns + 3) & 3];
  const double minus_s = s == 0 ? 0.0 : -s;  // no negative zeros in the placements
  auto f = std::make_unique<Feature>();
  f->item = {KEL_FEAT_COMPONENT, feature_id, this};
  f->type = KEL_FEAT_COMPONENT;
  f->child = &child;
  const Transform p = {
      {c, s, 0, 0}, {minus_s, c, 0, 0}, {0, 0, 1, 0}, {shift[0], shift[1], shift[2], 1}};
  std::memcpy(f->placement, p, sizeof p);
  features.push_back(std::move(f));
  return *features.back();
}

void Model::add_other_feature(int feature_id, int feature_type) {
  auto f = std::make_unique<Feature>();
  f->item = {feature_type, feature_id, this};
  f->type = feature_type;
  features.push_back(std::move(f));
}

void component_transform(const Model& top, const std::vector<int>& ids, Transform out) {
  Transform acc = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  const Model* m = &top;
  for (int id : ids) {
    const Feature* found = nullptr;
    for (auto& f : m->features)
      if (f->item.id == id) found = f.get();
    if (!found) break;
    Transform next;
    multiply(found->placement, acc, next);  // the deeper placement applies first
    std::memcpy(acc, next, sizeof acc);
    m = found->child;
  }
  std::memcpy(out, acc, sizeof acc);
}

void handshake() {
  static bool done = false;
  if (done) return;
  done = true;
  static std::vector<KelHostFunctionEntry> table = {
      entry("KelAsmcompMdlGet_v", comp_model),
      entry("KelAsmcomppathInit_v", path_init),
      entry("KelAsmcomppathTrfGet_v", path_trf),
      entry("KelCsysDataGet_v", csys_data),
      entry("KelCsysIdGet_v", csys_id),
      entry("KelCsysInit_v", csys_init),
      entry("KelFeatureTypeGet_v", feature_type),
      entry("KelGeomitemdataFree_v", data_free),
      entry("KelMdlCurrentGet_v", current_get),
      entry("KelMdlNameGet_v", model_name),
      entry("KelMdlTypeGet_v", model_type),
      entry("KelMenuAuxfileRegister_v", menu_register),
      entry("KelMenuFileRegister_v", menu_register),
      entry("KelMenubuttonActionSet_v", button_set),
      entry("KelMessageClear_v", message_clear),
      entry("KelMessageDisplay_v", message_display),
      entry("KelMessageStringRead_v", string_read),
      entry("KelModelitemInit_v", item_init),
      entry("KelModelitemNameGet_v", item_name),
      entry("KelSelect_v", select),
      entry("KelSelectionAsmcomppathGet_v", selection_path),
      entry("KelSelectionModelitemGet_v", selection_item),
      entry("KelSolidCsysVisit_v", csys_visit),
      entry("KelSolidFeatVisit_v", feat_visit),
      entry("keldev_pass_version_info_v", pass_version),
  };
  std::sort(table.begin(), table.end(),
            [](const KelHostFunctionEntry& a, const KelHostFunctionEntry& b) {
              return std::strcmp(a.name, b.name) < 0;
            });
  static kel_wchar message[64];
  user_initialize_plus(nullptr, nullptr, "21", "2002100", nullptr, message, "root", nullptr, "", 42,
                       nullptr, table.data(), static_cast<int32_t>(table.size()), 0);
}

int press_button() { return host().button(nullptr, 0); }

}  // namespace fake
