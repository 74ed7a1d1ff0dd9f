// The assembly model that mirax answers the command's host calls from: models, their
// coordinate systems and component placements, loaded from a JSON file and validated.
#pragma once
#include <array>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/host_records.h"

namespace mirax {

using Vec3 = std::array<double, 3>;

// A frame in the coordinates of the model that owns it: the rows x, y, z and origin of a
// transform T, a point p of the frame mapping to p x T (points are row vectors).
struct Frame {
  Vec3 x{1, 0, 0};
  Vec3 y{0, 1, 0};
  Vec3 z{0, 0, 1};
  Vec3 origin{0, 0, 0};
};

enum class ModelType { assembly, part };

// The longest name the host hands out: 31 wide characters plus the terminating zero.
inline constexpr size_t kMaxNameUnits = KEL_NAME_SIZE - 1;

struct Csys {
  std::string name;          // UTF-8, as in the file
  std::u16string wide_name;  // what the host hands out
  Frame frame;
  int id = 0;  // item id and datum feature id, unique within the model
};

struct Component {
  int model = -1;  // index into Assembly::models
  Frame placement;
  int feature_id = 0;  // unique within the owning model
};

// A model's features are its csys (datum features) followed by its components, in file order;
// feature ids count from 1 in that order.
struct Model {
  std::string name;
  std::u16string wide_name;
  ModelType type = ModelType::part;
  std::vector<Csys> csys;
  std::vector<Component> components;

  int feature_count() const { return static_cast<int>(csys.size() + components.size()); }
};

// The whole model file. `models` does not change after loading, so addresses of its elements
// serve as host handles.
struct Assembly {
  std::vector<Model> models;
  int top = -1;

  const Model& top_model() const { return models[static_cast<size_t>(top)]; }
  int find(std::string_view name) const;  // index of the model, or -1
};

// A refused model file or reference; the message names the file or the JSON path and the fault.
class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The characters that model and csys names cannot hold, besides control characters.
inline constexpr std::string_view kModelNameForbidden = "/[]";
inline constexpr std::string_view kCsysNameForbidden = "/";
// A name as the host hands it out: valid UTF-8, 1 to 31 wide characters, none of `forbidden`.
// Throws ModelError("<where>: <what> ...") naming the fault.
std::u16string checked_name(const std::string& name, const std::string& where, const char* what,
                            std::string_view forbidden);
// Refuses a component cycle, nesting deeper than a host component path can describe and an
// expansion beyond kMaxExpansion;
// `where(model, component)` names a component in the message.
void check_nesting(const Assembly& assembly,
                   const std::function<std::string(int model, size_t component)>& where);

// Parses and validates the JSON text of a model file. Throws ModelError("<json path>: <fault>").
Assembly parse_assembly(std::string_view json_text);
// Reads and parses a model file. Throws ModelError("<file>: <json path>: <fault>").
Assembly load_assembly(const std::string& file);

// The deepest component nesting a host component path can describe.
inline constexpr int kMaxDepth = KEL_PATH_MAX_DEPTH;

// A csys reached from the top model: the component indices leading down to its model, then the
// csys index within that model.
struct CsysLocation {
  std::vector<int> components;  // indices into each successive model's `components`
  int model = -1;               // the model owning the csys
  int csys = -1;                // index into that model's `csys`
  std::string path;             // the reference path naming it ("SUB/P2/CS", "BOLT[2]/CS")
};

// The most components and csys the expanded tree of a model file may hold, each use of a model
// counting its whole contents again: a larger model is refused when it is loaded.
inline constexpr long kMaxExpansion = 1000000;

// The model as JSON text that parse_assembly reads back to the same model.
std::string assembly_json(const Assembly& assembly);
// Writes assembly_json to `file`. Throws ModelError("<file>: <fault>").
void save_assembly(const Assembly& assembly, const std::string& file);

// Resolves a reference path; throws ModelError naming what does not exist.
CsysLocation resolve_reference(const Assembly& assembly, std::string_view path);
// Hands every csys that can be picked to `visit`, depth first in feature order, each with its
// path, until `visit` returns false; true when every csys was visited.
bool for_each_pickable(const Assembly& assembly,
                       const std::function<bool(const CsysLocation&)>& visit);
// Every csys that can be picked, as for_each_pickable gives them.
std::vector<CsysLocation> pickable_csys(const Assembly& assembly);

}  // namespace mirax
