// The model as JSON: what `--export-model` writes, in the form load_assembly reads.
#include <fstream>
#include <nlohmann/json.hpp>

#include "host/encoding.h"
#include "host/model.h"

namespace mirax {

namespace {

using ordered_json = nlohmann::ordered_json;

// Origin and all three axes (z too, so that a left-handed frame survives the round trip).
void put_frame(ordered_json& out, const Frame& f) {
  out["origin"] = f.origin;
  out["x"] = f.x;
  out["y"] = f.y;
  out["z"] = f.z;
}

}  // namespace

std::string assembly_json(const Assembly& a) {
  ordered_json root;
  root["top"] = a.top_model().name;
  ordered_json& models = root["models"] = ordered_json::object();
  for (const Model& m : a.models) {
    ordered_json def;
    def["type"] = m.type == ModelType::assembly ? "assembly" : "part";
    def["csys"] = ordered_json::array();
    for (const Csys& c : m.csys) {
      ordered_json cs;
      cs["name"] = c.name;
      put_frame(cs, c.frame);
      def["csys"].push_back(std::move(cs));
    }
    if (m.type == ModelType::assembly) {
      def["components"] = ordered_json::array();
      for (const Component& c : m.components) {
        ordered_json comp;
        comp["model"] = a.models[static_cast<size_t>(c.model)].name;
        put_frame(comp, c.placement);
        def["components"].push_back(std::move(comp));
      }
    }
    models[m.name] = std::move(def);
  }
  // Doubles are written with the digits that read back to the same value.
  return root.dump(1) + "\n";
}

void save_assembly(const Assembly& a, const std::string& file) {
  const std::string text = assembly_json(a);
  std::ofstream out(path_from_utf8(file), std::ios::binary | std::ios::trunc);
  if (!out) throw ModelError(file + ": cannot be written");
  out << text;
  out.close();
  if (!out) throw ModelError(file + ": cannot be written");
}

}  // namespace mirax
