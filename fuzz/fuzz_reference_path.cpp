// Reference paths on a fixed assembly with repeated siblings, shared and nested sub-assemblies:
// any text either is refused with a ModelError or names a csys that can be picked, reached by
// valid component indices, and whose own path names the same csys.
#include <stdint.h>
#include <stdlib.h>

#include <string_view>

#include "host/model.h"

using namespace mirax;

namespace {

const char kModel[] = R"({ "top": "TOP", "models": {
  "TOP": { "type": "assembly", "csys": [ { "name": "CS", "origin": [0,0,0], "x": [1,0,0], "y": [0,1,0] },
                                         { "name": "Ref[1]", "origin": [1,2,3], "x": [0,1,0], "y": [-1,0,0] } ],
           "components": [ { "model": "SUB", "origin": [0,0,0], "x": [1,0,0], "y": [0,1,0] },
                           { "model": "BOLT", "origin": [5,0,0], "x": [1,0,0], "y": [0,1,0] },
                           { "model": "SUB", "origin": [9,0,0], "x": [0,1,0], "y": [-1,0,0] },
                           { "model": "BOLT", "origin": [7,0,0], "x": [1,0,0], "y": [0,1,0] } ] },
  "SUB": { "type": "assembly", "csys": [ { "name": "cs", "origin": [0,0,1], "x": [1,0,0], "y": [0,1,0] } ],
           "components": [ { "model": "P2", "origin": [0,0,0], "x": [1,0,0], "y": [0,1,0] },
                           { "model": "BOLT", "origin": [0,3,0], "x": [1,0,0], "y": [0,1,0] } ] },
  "P2": { "type": "part", "csys": [ { "name": "CS", "origin": [1,0,0], "x": [1,0,0], "y": [0,1,0] },
                                    { "name": "a b", "origin": [2,0,0], "x": [1,0,0], "y": [0,1,0] } ] },
  "BOLT": { "type": "part", "csys": [ { "name": "Axis", "origin": [0,0,0], "x": [1,0,0], "y": [0,1,0] } ] } } })";

const Assembly& assembly() {
  static const Assembly a = parse_assembly(kModel);
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Assembly& a = assembly();
  const std::string_view path(reinterpret_cast<const char*>(data), size);
  CsysLocation loc;
  try {
    loc = resolve_reference(a, path);
  } catch (const ModelError&) {
    return 0;
  }
  // The walk from the top through the indices ends at the owning model.
  int model = a.top;
  for (int index : loc.components) {
    const Model& m = a.models[static_cast<size_t>(model)];
    if (index < 0 || static_cast<size_t>(index) >= m.components.size()) abort();
    model = m.components[static_cast<size_t>(index)].model;
  }
  if (model != loc.model || loc.csys < 0 ||
      static_cast<size_t>(loc.csys) >= a.models[static_cast<size_t>(model)].csys.size())
    abort();
  // It is one of the pickable csys, and that one's path resolves to it too.
  bool listed = false;
  for (const CsysLocation& pick : pickable_csys(a))
    if (pick.components == loc.components && pick.csys == loc.csys) {
      listed = true;
      const CsysLocation again = resolve_reference(a, pick.path);
      if (again.components != loc.components || again.csys != loc.csys) abort();
    }
  if (!listed) abort();
  return 0;
}
