#include "host/model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "host/encoding.h"

namespace mirax {

using nlohmann::json;

namespace {

constexpr double kAxisTolerance = 1e-6;

[[noreturn]] void refuse(const std::string& path, const std::string& fault) {
  throw ModelError((path.empty() ? std::string("/") : path) + ": " + fault);
}

// JSON pointer step for an object key ("~" and "/" escaped as JSON pointers do).
std::string key_step(const std::string& path, const std::string& key) {
  std::string escaped;
  for (char c : key) {
    if (c == '~')
      escaped += "~0";
    else if (c == '/')
      escaped += "~1";
    else
      escaped += c;
  }
  return path + "/" + escaped;
}

std::string index_step(const std::string& path, size_t index) {
  return path + "/" + std::to_string(index);
}

void require_keys(const json& object, const std::string& path,
                  std::initializer_list<const char*> allowed) {
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* k : allowed) known = known || item.key() == k;
    if (!known) refuse(key_step(path, item.key()), "unknown key");
  }
}

const json& require_object(const json& value, const std::string& path) {
  if (!value.is_object()) refuse(path, "expected an object");
  return value;
}

}  // namespace

// A name as the host hands it out: well-formed, not empty, at most 31 wide characters, and free
// of the characters that separate reference paths.
std::u16string checked_name(const std::string& name, const std::string& path, const char* what,
                            std::string_view forbidden) {
  const auto wide = utf8_to_wide(name);
  if (!wide) refuse(path, std::string(what) + " is not valid UTF-8");
  if (wide->empty()) refuse(path, std::string(what) + " is empty");
  if (wide->size() > kMaxNameUnits)
    refuse(path, std::string(what) + " \"" + name + "\" is longer than 31 characters");
  for (char16_t c : *wide) {
    // C0 and C1 controls and DEL.
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    if (!control && (c >= 0x80 || forbidden.find(static_cast<char>(c)) == std::string_view::npos))
      continue;
    char code[8];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    const std::string shown =
        !control ? "\"" + std::string(1, static_cast<char>(c)) + "\" (" + code + ")"
                 : std::string(code);
    std::string refused;
    for (char f : forbidden) refused += std::string(", \"") + f + "\"";
    refuse(path, std::string(what) + " \"" + name + "\" holds " + shown + ", which a " + what +
                     " cannot hold (refused: control characters" + refused + ")");
  }
  return *wide;
}

namespace {

Vec3 read_vec3(const json& value, const std::string& path) {
  if (!value.is_array() || value.size() != 3) refuse(path, "expected an array of three numbers");
  Vec3 v{};
  for (size_t i = 0; i < 3; ++i) {
    if (!value[i].is_number()) refuse(index_step(path, i), "expected a number");
    v[i] = value[i].get<double>();
    if (!std::isfinite(v[i])) refuse(index_step(path, i), "expected a finite number");
  }
  return v;
}

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Reads origin and axes; the axes must be unit length and mutually orthogonal, z defaults to x × y.
Frame read_frame(const json& object, const std::string& path) {
  Frame f;
  for (const char* key : {"origin", "x", "y"})
    if (!object.contains(key)) refuse(path, std::string("missing \"") + key + "\"");
  f.origin = read_vec3(object["origin"], key_step(path, "origin"));
  f.x = read_vec3(object["x"], key_step(path, "x"));
  f.y = read_vec3(object["y"], key_step(path, "y"));
  auto check_unit = [&](const char* name, const Vec3& axis) {
    const double length = std::sqrt(dot(axis, axis));
    if (std::fabs(length - 1.0) > kAxisTolerance) {
      std::ostringstream fault;
      fault << "axis is not of unit length (length " << length << ")";
      refuse(key_step(path, name), fault.str());
    }
  };
  auto check_orthogonal = [&](const char* pair, const Vec3& a, const Vec3& b) {
    if (std::fabs(dot(a, b)) > kAxisTolerance)
      refuse(path, std::string("axes ") + pair + " are not orthogonal");
  };
  check_unit("x", f.x);
  check_unit("y", f.y);
  check_orthogonal("x, y", f.x, f.y);
  if (object.contains("z")) {
    f.z = read_vec3(object["z"], key_step(path, "z"));
    check_unit("z", f.z);
    check_orthogonal("x, z", f.x, f.z);
    check_orthogonal("y, z", f.y, f.z);
  } else {
    f.z = cross(f.x, f.y);
  }
  return f;
}

// A key given twice in one object would silently replace the first when parsed; this pass over
// the text finds the first such key (empty when none, or when the text is malformed).
class DuplicateKeyFinder final : public nlohmann::json_sax<json> {
 public:
  std::string duplicate;

  bool start_object(std::size_t) override {
    keys_.emplace_back();
    return true;
  }
  bool end_object() override {
    keys_.pop_back();
    return true;
  }
  bool key(string_t& k) override {
    if (!keys_.back().insert(k).second) duplicate = k;
    return duplicate.empty();
  }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  std::vector<std::set<std::string>> keys_;
};

std::string first_duplicate_key(std::string_view text) {
  DuplicateKeyFinder finder;
  json::sax_parse(text.begin(), text.end(), &finder);
  return finder.duplicate;
}

struct PendingComponent {
  std::string model_name;
  std::string path;
};

// Refuses a model whose expanded tree (each use of a model counting its contents again) holds more
// than kMaxExpansion components and csys; counted per model, so it takes no longer to refuse a
// model of millions than to accept a small one. The structure is known to be acyclic.
void check_expansion(const Assembly& a) {
  std::vector<long> size(a.models.size(), -1);  // per model: its expanded contents, capped
  std::function<long(int)> expanded = [&](int m) {
    long& known = size[static_cast<size_t>(m)];
    if (known >= 0) return known;
    const Model& model = a.models[static_cast<size_t>(m)];
    long total = static_cast<long>(model.csys.size());
    for (const Component& c : model.components)
      total = std::min(kMaxExpansion + 1, total + 1 + expanded(c.model));
    return known = std::min(kMaxExpansion + 1, total);
  };
  if (expanded(a.top) > kMaxExpansion)
    refuse("/top", "\"" + a.top_model().name + "\" expands to more than " +
                       std::to_string(kMaxExpansion) +
                       " components and csys (each use of a model counts its contents again)");
}

}  // namespace

void check_nesting(const Assembly& a, const std::function<std::string(int, size_t)>& where) {
  enum class Mark { none, open, done };
  std::vector<Mark> mark(a.models.size(), Mark::none);
  std::vector<int> height(a.models.size(), 0);  // deepest component nesting below each model
  // `depth` counts the components above `m` on the way down; a chain deeper than a path can
  // describe is refused before the recursion goes further.
  std::vector<int> open;  // the models on the way down, top first
  std::function<void(int, int)> visit = [&](int m, int depth) {
    mark[static_cast<size_t>(m)] = Mark::open;
    open.push_back(m);
    const Model& model = a.models[static_cast<size_t>(m)];
    for (size_t i = 0; i < model.components.size(); ++i) {
      const int child = model.components[i].model;
      const std::string path = where(m, i);
      if (mark[static_cast<size_t>(child)] == Mark::open) {
        // The chain from the model that contains itself back to it: "A -> B -> C -> A".
        std::string chain;
        for (auto it = std::find(open.begin(), open.end(), child); it != open.end(); ++it)
          chain += "\"" + a.models[static_cast<size_t>(*it)].name + "\" -> ";
        refuse(path, "component cycle: " + chain + "\"" +
                         a.models[static_cast<size_t>(child)].name + "\"");
      }
      if (depth + 1 > kMaxDepth)
        refuse(path,
               "components are nested more than " + std::to_string(kMaxDepth) + " levels deep");
      if (mark[static_cast<size_t>(child)] == Mark::none) visit(child, depth + 1);
      height[static_cast<size_t>(m)] =
          std::max(height[static_cast<size_t>(m)], height[static_cast<size_t>(child)] + 1);
      if (height[static_cast<size_t>(m)] > kMaxDepth)
        refuse(path,
               "components are nested more than " + std::to_string(kMaxDepth) + " levels deep");
    }
    mark[static_cast<size_t>(m)] = Mark::done;
    open.pop_back();
  };
  for (size_t m = 0; m < a.models.size(); ++m)
    if (mark[m] == Mark::none) visit(static_cast<int>(m), 0);
  check_expansion(a);
}

int Assembly::find(std::string_view name) const {
  for (size_t i = 0; i < models.size(); ++i)
    if (models[i].name == name) return static_cast<int>(i);
  return -1;
}

Assembly parse_assembly(std::string_view json_text) {
  json root;
  const std::string duplicate = first_duplicate_key(json_text);
  try {
    root = json::parse(json_text.begin(), json_text.end());
  } catch (const json::exception& e) {  // a syntax error, or a number beyond the double range
    std::string what = e.what();
    // Keep the library's position and reason, without its internal exception tag.
    if (const auto tag = what.find("] ");
        tag != std::string::npos && what.rfind("[json.exception", 0) == 0)
      what = what.substr(tag + 2);
    throw ModelError("malformed JSON: " + what);
  }
  if (!duplicate.empty())
    throw ModelError("malformed JSON: the key \"" + duplicate + "\" appears twice in one object");
  require_object(root, "");
  // "$schema" lets an editor find the schema; mirax does not read it.
  require_keys(root, "", {"$schema", "top", "models"});
  if (root.contains("$schema") && !root["$schema"].is_string())
    refuse("/$schema", "expected a string");
  if (!root.contains("top")) refuse("", "missing \"top\"");
  if (!root["top"].is_string()) refuse("/top", "expected a model name");
  if (!root.contains("models")) refuse("", "missing \"models\"");
  const json& models = require_object(root["models"], "/models");

  Assembly a;
  a.models.reserve(models.size());
  std::vector<std::vector<PendingComponent>> pending;
  for (const auto& item : models.items()) {
    const std::string path = key_step("/models", item.key());
    const json& def = require_object(item.value(), path);
    require_keys(def, path, {"type", "csys", "components"});
    Model m;
    m.name = item.key();
    m.wide_name = checked_name(m.name, path, "model name", kModelNameForbidden);
    if (!def.contains("type")) refuse(path, "missing \"type\"");
    const json& type = def["type"];
    if (type == "assembly")
      m.type = ModelType::assembly;
    else if (type == "part")
      m.type = ModelType::part;
    else
      refuse(key_step(path, "type"), "expected \"assembly\" or \"part\"");

    int next_id = 1;
    if (def.contains("csys")) {
      const std::string list_path = key_step(path, "csys");
      if (!def["csys"].is_array()) refuse(list_path, "expected an array");
      std::set<std::string> names;
      for (size_t i = 0; i < def["csys"].size(); ++i) {
        const std::string cpath = index_step(list_path, i);
        const json& c = require_object(def["csys"][i], cpath);
        require_keys(c, cpath, {"name", "origin", "x", "y", "z"});
        if (!c.contains("name") || !c["name"].is_string()) refuse(cpath, "missing csys \"name\"");
        Csys cs;
        cs.name = c["name"].get<std::string>();
        cs.wide_name =
            checked_name(cs.name, key_step(cpath, "name"), "csys name", kCsysNameForbidden);
        if (!names.insert(cs.name).second)
          refuse(key_step(cpath, "name"), "csys \"" + cs.name + "\" is defined twice");
        cs.frame = read_frame(c, cpath);
        cs.id = next_id++;
        m.csys.push_back(std::move(cs));
      }
    }
    std::vector<PendingComponent> comps;
    if (def.contains("components")) {
      const std::string list_path = key_step(path, "components");
      if (!def["components"].is_array()) refuse(list_path, "expected an array");
      if (m.type == ModelType::part && !def["components"].empty())
        refuse(list_path, "a part has no components");
      for (size_t i = 0; i < def["components"].size(); ++i) {
        const std::string cpath = index_step(list_path, i);
        const json& c = require_object(def["components"][i], cpath);
        require_keys(c, cpath, {"model", "origin", "x", "y", "z"});
        if (!c.contains("model") || !c["model"].is_string())
          refuse(cpath, "missing component \"model\"");
        Component comp;
        comp.placement = read_frame(c, cpath);
        comp.feature_id = next_id++;
        m.components.push_back(comp);
        comps.push_back({c["model"].get<std::string>(), key_step(cpath, "model")});
      }
    }
    a.models.push_back(std::move(m));
    pending.push_back(std::move(comps));
  }

  std::map<std::string_view, int> index;
  for (size_t m = 0; m < a.models.size(); ++m) index.emplace(a.models[m].name, static_cast<int>(m));
  auto find = [&](const std::string& name) {
    const auto it = index.find(name);
    return it == index.end() ? -1 : it->second;
  };
  std::vector<std::vector<std::string>> component_paths(a.models.size());
  for (size_t m = 0; m < a.models.size(); ++m) {
    for (size_t i = 0; i < pending[m].size(); ++i) {
      const int child = find(pending[m][i].model_name);
      if (child < 0)
        refuse(pending[m][i].path, "undefined model \"" + pending[m][i].model_name + "\"");
      a.models[m].components[i].model = child;
      component_paths[m].push_back(pending[m][i].path);
    }
  }
  a.top = find(root["top"].get<std::string>());
  if (a.top < 0) refuse("/top", "undefined model \"" + root["top"].get<std::string>() + "\"");
  check_nesting(a, [&](int m, size_t i) { return component_paths[static_cast<size_t>(m)][i]; });
  return a;
}

Assembly load_assembly(const std::string& file) {
  std::ifstream in(path_from_utf8(file), std::ios::binary);
  if (!in) throw ModelError(file + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return parse_assembly(text.str());
  } catch (const ModelError& e) {
    throw ModelError(file + ": " + e.what());
  }
}

namespace {

// One step of a reference path: a model name with an optional 1-based index among siblings.
struct Step {
  std::string model;
  size_t index = 1;
};

Step parse_step(std::string_view text, std::string_view whole) {
  Step s;
  const auto open = text.find('[');
  if (open == std::string_view::npos) {
    s.model = std::string(text);
    return s;
  }
  const auto digits = text.substr(open + 1, text.size() - open - 1);
  if (digits.size() < 2 || digits.back() != ']')
    throw ModelError("reference \"" + std::string(whole) + "\": bad index in \"" +
                     std::string(text) + "\"");
  s.model = std::string(text.substr(0, open));
  size_t n = 0;
  for (char c : digits.substr(0, digits.size() - 1)) {
    if (c < '0' || c > '9' || n > 100000)
      throw ModelError("reference \"" + std::string(whole) + "\": bad index in \"" +
                       std::string(text) + "\"");
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  if (n == 0) throw ModelError("reference \"" + std::string(whole) + "\": indices count from 1");
  s.index = n;
  return s;
}

}  // namespace

CsysLocation resolve_reference(const Assembly& a, std::string_view path) {
  CsysLocation loc;
  loc.path = std::string(path);
  int model = a.top;
  std::string_view rest = path;
  for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
    const Step step = parse_step(rest.substr(0, slash), path);
    const Model& m = a.models[static_cast<size_t>(model)];
    size_t seen = 0;
    int found = -1;
    for (size_t i = 0; i < m.components.size() && found < 0; ++i)
      if (a.models[static_cast<size_t>(m.components[i].model)].name == step.model &&
          ++seen == step.index)
        found = static_cast<int>(i);
    if (found < 0)
      throw ModelError("reference \"" + loc.path + "\": \"" + m.name + "\" has no component \"" +
                       std::string(rest.substr(0, slash)) + "\"");
    loc.components.push_back(found);
    model = m.components[static_cast<size_t>(found)].model;
    rest = rest.substr(slash + 1);
  }
  const Model& owner = a.models[static_cast<size_t>(model)];
  for (size_t i = 0; i < owner.csys.size(); ++i)
    if (owner.csys[i].name == rest) {
      loc.model = model;
      loc.csys = static_cast<int>(i);
      return loc;
    }
  throw ModelError("reference \"" + loc.path + "\": \"" + owner.name + "\" has no csys \"" +
                   std::string(rest) + "\"");
}

bool for_each_pickable(const Assembly& a, const std::function<bool(const CsysLocation&)>& visit) {
  CsysLocation at;
  // Visits the csys of `model` and of its components below `prefix`; false once `visit` stops.
  std::function<bool(int, const std::string&)> walk = [&](int model, const std::string& prefix) {
    const Model& m = a.models[static_cast<size_t>(model)];
    at.model = model;
    for (size_t i = 0; i < m.csys.size(); ++i) {
      at.csys = static_cast<int>(i);
      at.path = prefix + m.csys[i].name;
      if (!visit(at)) return false;
    }
    std::map<int, size_t> uses, rank;  // per child model: its components here, and those seen
    for (const Component& c : m.components) ++uses[c.model];
    for (size_t i = 0; i < m.components.size(); ++i) {
      const int child = m.components[i].model;
      const std::string& name = a.models[static_cast<size_t>(child)].name;
      const std::string step =
          uses[child] > 1 ? name + "[" + std::to_string(++rank[child]) + "]" : name;
      at.components.push_back(static_cast<int>(i));
      const bool more = walk(child, prefix + step + "/");
      at.components.pop_back();
      if (!more) return false;
    }
    return true;
  };
  return walk(a.top, "");
}

std::vector<CsysLocation> pickable_csys(const Assembly& a) {
  std::vector<CsysLocation> out;
  for_each_pickable(a, [&](const CsysLocation& at) {
    out.push_back(at);
    return true;
  });
  return out;
}

}  // namespace mirax
