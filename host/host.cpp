#include "host/host.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "binding/kel_error.h"
#include "host/encoding.h"
#include "binding/exception_text.h"
#include "host/frame_math.h"
#include "host/guard.h"
#include "host/text_files.h"

namespace mirax {

std::string status_text(KelError status) {
  const char* name = kel_error_name(status);
  return *name ? std::string(name) : std::to_string(status);
}

Host::Host(const Assembly& assembly, Answers& answers, int language, std::ostream& out,
           std::ostream& err)
    : assembly_(assembly),
      answers_(answers),
      language_(language),
      out_(out),
      err_(err),
      table_(build_host_table()) {
  for (const Model& m : assembly_.models)
    for (const Csys& c : m.csys) csys_owner_[&c] = &m;
}

Host::~Host() = default;

int32_t Host::handle() const { return static_cast<int32_t>(reinterpret_cast<intptr_t>(this)); }

Host& Host::from_handle(void* handle) { return *static_cast<Host*>(handle); }

const ButtonBinding* Host::button(const std::string& menu, const std::string& button) const {
  const auto it = buttons_.find({menu, button});
  return it == buttons_.end() ? nullptr : &it->second;
}

std::vector<ButtonName> Host::buttons() const {
  std::vector<ButtonName> names;
  for (const auto& [key, binding] : buttons_) names.push_back({key.first, key.second});
  return names;
}

void Host::hand_over(const std::u16string& name, kel_wchar* out) {
  const size_t n = std::min(name.size(), kMaxNameUnits);
  std::copy_n(name.data(), n, out);
  out[n] = 0;
  warn_unheld(name);
}

void Host::warn_unheld(const std::u16string& name) {
  if (code_page_ == 0 || code_page_holds(code_page_, name) || !warned_.insert(name).second) return;
  err_ << "mirax: \"" << wide_to_utf8(name) << "\" cannot be held by the session's code page "
       << code_page_
       << ": the module turns what it cannot hold into \"?\", and names so turned match each "
          "other\n";
}

const Model* Host::model_of(KelMdl handle) const {
  const auto p = reinterpret_cast<uintptr_t>(handle);
  const auto base = reinterpret_cast<uintptr_t>(assembly_.models.data());
  if (p < base || (p - base) % sizeof(Model) != 0 ||
      (p - base) / sizeof(Model) >= assembly_.models.size())
    return nullptr;
  return static_cast<const Model*>(handle);
}

const Csys* Host::csys_of(KelCsys handle) const {
  const auto* csys = static_cast<const Csys*>(handle);
  return csys_owner_.count(csys) ? csys : nullptr;
}

const Selection* Host::selection_of(KelSelection handle) const {
  for (const auto& s : selections_)
    if (s.get() == handle) return s.get();
  return nullptr;
}

// ---- menus, buttons, messages -------------------------------------------------------------

KelError Host::menu_register(const char* menu, const char* file, int* menu_id, const char* dir,
                             bool aux) {
  if (!menu || !file || !dir) return KEL_TK_BAD_INPUTS;
  const std::string path = module_path_join(dir, file);
  const auto content = read_file(path);
  if (!content) {
    err_ << "mirax: menu file " << path << " cannot be read\n";
    return KEL_TK_CANT_OPEN;
  }
  const auto parsed = aux ? parse_aux_menu(*content) : parse_menu(*content);
  if (!parsed || parsed->menu != menu) {
    err_ << "mirax: " << path << " is not a menu file of menu \"" << menu << "\"\n";
    return KEL_TK_INVALID_FILE;
  }
  const auto it = menus_.try_emplace(menu).first;
  MenuFile& known = it->second;
  known.menu = menu;
  if (aux)
    known.help.insert(parsed->help.begin(), parsed->help.end());
  else
    known.buttons.insert(known.buttons.end(), parsed->buttons.begin(), parsed->buttons.end());
  if (menu_id) *menu_id = static_cast<int>(std::distance(menus_.begin(), it)) + 1;
  return KEL_TK_NO_ERROR;
}

KelError Host::button_action_set(const char* menu, const char* button, KelButtonActionFn action,
                                 void* data, int value) {
  if (!menu || !button || !action) return KEL_TK_BAD_INPUTS;
  const auto it = menus_.find(menu);
  if (it == menus_.end() || std::find(it->second.buttons.begin(), it->second.buttons.end(),
                                      button) == it->second.buttons.end()) {
    err_ << "mirax: no button \"" << button << "\" in a registered menu file of menu \"" << menu
         << "\"\n";
    return KEL_TK_E_NOT_FOUND;
  }
  buttons_[{menu, button}] = {action, data, value};
  return KEL_TK_NO_ERROR;
}

const MessageCatalog* Host::messages(const std::string& path) {
  if (const auto it = message_files_.find(path); it != message_files_.end()) return &it->second;
  const auto content = read_file(path);
  if (!content) return nullptr;
  auto catalog = parse_messages(*content);
  if (!catalog) return nullptr;
  return &message_files_.emplace(path, std::move(*catalog)).first->second;
}

KelError Host::message_display(const kel_wchar* file, const char* key, const char* text_dir) {
  if (!file || !key || !text_dir) return KEL_TK_BAD_INPUTS;
  const std::string path =
      module_path_join(text_dir, wide_to_utf8(std::u16string_view(file, wide_length(file))));
  const MessageCatalog* catalog = messages(path);
  if (!catalog) {
    err_ << "mirax: message file " << path << " cannot be read\n";
    return KEL_TK_CANT_OPEN;
  }
  const auto it = catalog->find(key);
  if (it == catalog->end()) {
    err_ << "mirax: no message \"" << key << "\" in " << path << "\n";
    return KEL_TK_MSG_NOT_FOUND;
  }
  out_ << text_to_utf8(it->second, language_code_page(language_)) << "\n" << std::flush;
  return KEL_TK_NO_ERROR;
}

KelError Host::message_read(int max_length, kel_wchar* buffer) {
  if (!buffer || max_length < 1) return KEL_TK_BAD_INPUTS;
  const auto reply = answers_.name();
  if (!reply) return KEL_TK_USER_ABORT;
  if (reply->size() > kMaxNameUnits)
    err_ << "mirax: the name \"" << wide_to_utf8(*reply) << "\" has " << reply->size()
         << " characters: the command keeps the first " << kMaxNameUnits << "\n";
  warn_unheld(*reply);
  size_t n = std::min(reply->size(), static_cast<size_t>(max_length));
  // Never end the reply inside a surrogate pair.
  if (n < reply->size() && n > 0 && (*reply)[n - 1] >= 0xD800 && (*reply)[n - 1] <= 0xDBFF) --n;
  std::copy_n(reply->data(), n, buffer);
  buffer[n] = 0;
  return KEL_TK_NO_ERROR;
}

// ---- selection ----------------------------------------------------------------------------

KelError Host::select(const char* filter, int max_count, KelSelection** out, int* count) {
  if (!filter || !out || !count || max_count < 1) return KEL_TK_BAD_INPUTS;
  if (std::strcmp(filter, "csys") != 0) return KEL_TK_BAD_INPUTS;  // the only kind of item there is
  const auto picked = answers_.pick(assembly_);
  if (!picked) return KEL_TK_USER_ABORT;
  selections_.push_back(std::make_unique<Selection>(Selection{*picked}));
  selection_array_.assign(1, selections_.back().get());
  *out = selection_array_.data();
  *count = 1;
  return KEL_TK_NO_ERROR;
}

KelError Host::selection_item(KelSelection sel, KelModelitem* item) {
  const Selection* s = selection_of(sel);
  if (!s || !item) return KEL_TK_BAD_INPUTS;
  const Model& owner = assembly_.models[static_cast<size_t>(s->location.model)];
  item->type = KEL_ITEM_CSYS;
  item->id = owner.csys[static_cast<size_t>(s->location.csys)].id;
  item->owner = const_cast<Model*>(&owner);
  return KEL_TK_NO_ERROR;
}

KelError Host::selection_path(KelSelection sel, KelAsmcomppath* path) {
  const Selection* s = selection_of(sel);
  if (!s || !path) return KEL_TK_BAD_INPUTS;
  path->owner = const_cast<Model*>(&assembly_.top_model());
  path->count = 0;
  const Model* m = &assembly_.top_model();
  for (int index : s->location.components) {
    const Component& c = m->components[static_cast<size_t>(index)];
    path->ids[path->count++] = c.feature_id;
    m = &assembly_.models[static_cast<size_t>(c.model)];
  }
  return KEL_TK_NO_ERROR;
}

KelError Host::array_size(const void* array, int* out) {
  if (!out) return KEL_TK_BAD_INPUTS;
  if (array && array == selection_array_.data()) {
    *out = static_cast<int>(selection_array_.size());
    return KEL_TK_NO_ERROR;
  }
  return KEL_TK_BAD_INPUTS;
}

// ---- model items and coordinate systems ---------------------------------------------------

Host::ItemTarget Host::item_target(const KelModelitem& item) const {
  const Model* m = model_of(item.owner);
  if (!m || (item.type != KEL_ITEM_CSYS && item.type != kItemFeature) || item.id < 1) return {};
  if (static_cast<size_t>(item.id) <= m->csys.size())
    return {&m->csys[static_cast<size_t>(item.id - 1)], nullptr};
  if (item.type == kItemFeature && item.id <= m->feature_count()) {
    const Component& c = m->components[static_cast<size_t>(item.id - 1) - m->csys.size()];
    return {nullptr, &assembly_.models[static_cast<size_t>(c.model)]};
  }
  return {};
}

KelError Host::item_name(const KelModelitem* item, kel_wchar* name) {
  if (!item || !name) return KEL_TK_BAD_INPUTS;
  if (!model_of(item->owner) || (item->type != KEL_ITEM_CSYS && item->type != kItemFeature))
    return KEL_TK_BAD_INPUTS;
  const ItemTarget target = item_target(*item);
  if (!target.csys && !target.component) return KEL_TK_E_NOT_FOUND;
  hand_over(target.csys ? target.csys->wide_name : target.component->wide_name, name);
  return KEL_TK_NO_ERROR;
}

KelError Host::item_init(KelMdl owner, int id, int type, KelModelitem* item) {
  const Model* m = model_of(owner);
  if (!m || !item) return KEL_TK_BAD_INPUTS;
  const bool exists = type == KEL_ITEM_CSYS
                          ? id >= 1 && static_cast<size_t>(id) <= m->csys.size()
                          : type == kItemFeature && id >= 1 && id <= m->feature_count();
  if (!exists) return KEL_TK_E_NOT_FOUND;
  item->type = type;
  item->id = id;
  item->owner = owner;
  return KEL_TK_NO_ERROR;
}

KelError Host::csys_init(KelMdl owner, int id, KelCsys* out) {
  const Model* m = model_of(owner);
  if (!m || !out) return KEL_TK_BAD_INPUTS;
  if (id < 1 || static_cast<size_t>(id) > m->csys.size()) return KEL_TK_E_NOT_FOUND;
  *out = const_cast<Csys*>(&m->csys[static_cast<size_t>(id - 1)]);
  return KEL_TK_NO_ERROR;
}

KelError Host::csys_id(KelCsys csys, int* id) {
  const Csys* c = csys_of(csys);
  if (!c || !id) return KEL_TK_BAD_INPUTS;
  *id = c->id;
  return KEL_TK_NO_ERROR;
}

KelError Host::csys_data(KelCsys csys, KelGeomitemdata** out) {
  const Csys* c = csys_of(csys);
  if (!c || !out) return KEL_TK_BAD_INPUTS;
  auto record = std::make_unique<GeometryRecord>();
  record->head.type = KEL_ITEM_CSYS;
  record->head.csys = &record->data;
  std::copy(c->frame.x.begin(), c->frame.x.end(), record->data.x_axis);
  std::copy(c->frame.y.begin(), c->frame.y.end(), record->data.y_axis);
  std::copy(c->frame.z.begin(), c->frame.z.end(), record->data.z_axis);
  std::copy(c->frame.origin.begin(), c->frame.origin.end(), record->data.origin);
  *out = &record->head;
  geometry_.emplace(&record->head, std::move(record));
  return KEL_TK_NO_ERROR;
}

KelError Host::geometry_free(KelGeomitemdata** data) {
  if (!data || !*data) return KEL_TK_BAD_INPUTS;
  const auto it = geometry_.find(*data);
  if (it == geometry_.end()) return KEL_TK_BAD_INPUTS;
  geometry_.erase(it);
  refused_releases_.erase(*data);
  *data = nullptr;
  return KEL_TK_NO_ERROR;
}

void Host::release_refused(KelGeomitemdata** data) {
  if (data && geometry_.count(*data)) refused_releases_.insert(*data);
}

size_t Host::geometry_records_excused() const { return refused_releases_.size(); }

// ---- component paths ----------------------------------------------------------------------

KelError Host::path_init(KelMdl owner, const int32_t* ids, int count, KelAsmcomppath* out) {
  if (!model_of(owner) || !out || count < 0 || count > KEL_PATH_MAX_DEPTH || (count > 0 && !ids))
    return KEL_TK_BAD_INPUTS;
  out->owner = owner;
  std::copy_n(ids, count, out->ids);
  out->count = count;
  return KEL_TK_NO_ERROR;
}

KelError Host::path_transform(const KelAsmcomppath* path, int top_down, double* out) {
  if (!path || !out || path->count < 0 || path->count > KEL_PATH_MAX_DEPTH)
    return KEL_TK_BAD_INPUTS;
  const Model* m = model_of(path->owner);
  if (!m) return KEL_TK_BAD_INPUTS;
  Matrix4 total = identity4();
  for (int i = 0; i < path->count; ++i) {
    const int id = path->ids[i];
    const int index = id - 1 - static_cast<int>(m->csys.size());
    if (index < 0 || static_cast<size_t>(index) >= m->components.size()) return KEL_TK_E_NOT_FOUND;
    const Component& c = m->components[static_cast<size_t>(index)];
    total = multiply(to_matrix(c.placement), total);  // T(ci) x ... x T(c1)
    m = &assembly_.models[static_cast<size_t>(c.model)];
  }
  if (!top_down) total = rigid_inverse(total);
  for (int r = 0; r < 4; ++r)
    for (int col = 0; col < 4; ++col)
      out[4 * r + col] = total[static_cast<size_t>(r)][static_cast<size_t>(col)];
  return KEL_TK_NO_ERROR;
}

// ---- models and visits --------------------------------------------------------------------

KelError Host::current_model(KelMdl* out) {
  if (!out) return KEL_TK_BAD_INPUTS;
  if (assembly_.models.empty()) return KEL_TK_E_NOT_FOUND;  // listing the buttons: no model
  *out = const_cast<Model*>(&assembly_.top_model());
  return KEL_TK_NO_ERROR;
}

KelError Host::model_type(KelMdl model, int* out) {
  const Model* m = model_of(model);
  if (!m || !out) return KEL_TK_BAD_INPUTS;
  *out = m->type == ModelType::assembly ? KEL_MDL_ASSEMBLY : KEL_MDL_PART;
  return KEL_TK_NO_ERROR;
}

KelError Host::model_name(KelMdl model, kel_wchar* out) {
  const Model* m = model_of(model);
  if (!m || !out) return KEL_TK_BAD_INPUTS;
  hand_over(m->wide_name, out);
  return KEL_TK_NO_ERROR;
}

template <class F>
KelError Host::visit_callback(const char* visit, F&& callback) {
  const guard::CallbackScope scope(visit);
  try {
    return callback();
  } catch (...) {
    char text[512];
    kel_describe_current_exception(text, sizeof text);
    callback_exceptions_.push_back(guard::callback_exception_message(visit, text));
    err_ << callback_exceptions_.back() << "\n";
    return KEL_TK_GENERAL_ERROR;
  }
}

KelError Host::feature_visit(KelMdl model, KelFeatureActionFn action, KelFeatureFilterFn filter,
                             void* data) {
  const Model* m = model_of(model);
  if (!m || !action) return KEL_TK_BAD_INPUTS;
  for (int id = 1; id <= m->feature_count(); ++id) {
    KelFeature feature{kItemFeature, id, model};
    KelError status = KEL_TK_NO_ERROR;
    if (filter)
      status = visit_callback("KelSolidFeatVisit", [&] { return filter(&feature, data); });
    if (status == KEL_TK_CONTINUE) continue;
    if (status != KEL_TK_NO_ERROR) return status;
    status = visit_callback("KelSolidFeatVisit", [&] { return action(&feature, status, data); });
    if (status != KEL_TK_NO_ERROR) return status;
  }
  return KEL_TK_NO_ERROR;
}

KelError Host::csys_visit(KelMdl model, KelCsysActionFn action, KelCsysFilterFn filter,
                          void* data) {
  const Model* m = model_of(model);
  if (!m || !action) return KEL_TK_BAD_INPUTS;
  for (const Csys& c : m->csys) {
    KelCsys handle = const_cast<Csys*>(&c);
    KelError status = KEL_TK_NO_ERROR;
    if (filter) status = visit_callback("KelSolidCsysVisit", [&] { return filter(handle, data); });
    if (status == KEL_TK_CONTINUE) continue;
    if (status != KEL_TK_NO_ERROR) return status;
    status = visit_callback("KelSolidCsysVisit", [&] { return action(handle, status, data); });
    if (status != KEL_TK_NO_ERROR) return status;
  }
  return KEL_TK_NO_ERROR;
}

KelError Host::feature_type(const KelFeature* feature, int* out) {
  if (!feature || !out) return KEL_TK_BAD_INPUTS;
  const Model* m = model_of(feature->owner);
  if (!m || feature->id < 1 || feature->id > m->feature_count()) return KEL_TK_BAD_INPUTS;
  *out = static_cast<size_t>(feature->id) <= m->csys.size() ? kFeatureTypeCsys : KEL_FEAT_COMPONENT;
  return KEL_TK_NO_ERROR;
}

KelError Host::component_model(const KelFeature* feature, KelMdl* out) {
  if (!feature || !out) return KEL_TK_BAD_INPUTS;
  const Model* m = model_of(feature->owner);
  if (!m || feature->id < 1 || feature->id > m->feature_count()) return KEL_TK_BAD_INPUTS;
  if (static_cast<size_t>(feature->id) <= m->csys.size())
    return KEL_TK_INVALID_TYPE;  // not a component
  const Component& c = m->components[static_cast<size_t>(feature->id - 1) - m->csys.size()];
  *out = const_cast<Model*>(&assembly_.models[static_cast<size_t>(c.model)]);
  return KEL_TK_NO_ERROR;
}

void Host::set_faults(const FaultPlan& faults) {
  faults_ = faults;
  fired_.assign(faults_.rules.size(), 0);
  fails_by_subject_ = std::any_of(faults_.rules.begin(), faults_.rules.end(),
                                  [](const FailRule& rule) { return !rule.subject.empty(); });
}

CallStart Host::call_begins(const char* symbol, std::string_view subject) {
  CallStart start;
  start.call = ++calls_[symbol];
  start.sequence = ++sequence_;
  if (faults_.rules.empty()) return start;
  const std::string name = host_function_name(symbol);
  for (size_t i = 0; i < faults_.rules.size(); ++i) {
    const FailRule& rule = faults_.rules[i];
    const bool chosen =
        rule.subject.empty() ? rule.call == 0 || rule.call == start.call : rule.subject == subject;
    if (rule.function != name || !chosen) continue;
    ++fired_[i];
    start.failure = faults_.status;
  }
  if (start.failure) {
    ++injected_[name];
    err_ << "mirax: injected: " << name << " call " << start.call << " -> "
         << status_text(*start.failure) << "\n";
  }
  return start;
}

std::vector<FailRule> Host::unfired_rules() const {
  std::vector<FailRule> unfired;
  for (size_t i = 0; i < faults_.rules.size(); ++i)
    if (fired_[i] == 0) unfired.push_back(faults_.rules[i]);
  return unfired;
}

int Host::injected_failures(const std::string& name) const {
  const auto it = injected_.find(name);
  return it == injected_.end() ? 0 : it->second;
}

void Host::trace_call(const char* symbol, const CallStart& start, long status,
                      const std::string& args) {
  const char* status_name = kel_error_name(static_cast<KelError>(status));
  *trace_ << "{\"seq\":" << start.sequence << ",\"name\":\"" << host_function_name(symbol)
          << "\",\"call\":" << start.call << ",\"args\":" << args << ",\"status\":" << status
          << ",\"status_name\":";
  if (*status_name)
    *trace_ << '"' << status_name << '"';
  else
    *trace_ << "null";
  *trace_ << ",\"injected\":" << (start.failure ? "true" : "false") << "}\n" << std::flush;
}

void Host::complain(const char* symbol, const char* what) {
  err_ << "mirax: " << host_function_name(symbol) << ": " << what << "\n";
}

std::string_view Host::subject_of(void* handle) const {
  if (const Model* m = model_of(handle)) return m->name;
  if (const Csys* c = csys_of(handle)) return c->name;
  if (const Selection* s = selection_of(handle))
    return assembly_.models[static_cast<size_t>(s->location.model)]
        .csys[static_cast<size_t>(s->location.csys)]
        .name;
  return {};
}

std::string_view Host::subject_of(const KelModelitem* item) const {
  const ItemTarget target = item ? item_target(*item) : ItemTarget{};
  if (target.csys) return target.csys->name;
  if (target.component) return target.component->name;
  return {};
}

CallCounts Host::calls() const {
  CallCounts counts;
  for (const auto& [symbol, count] : calls_) counts[host_function_name(symbol)] += count;
  return counts;
}

int Host::accept_version(int module_version) {
  module_version_ = module_version;
  return 1;
}

}  // namespace mirax
