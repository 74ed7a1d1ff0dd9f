// The model loader on any text: it either refuses the text with a ModelError or hands back an
// assembly that keeps every promise the host relies on (valid indices, short names, unit and
// orthogonal axes, no cycle, nesting within the component path's depth), and every csys it
// offers for picking resolves by its path to itself.
#include <stdint.h>
#include <stdlib.h>

#include <cmath>
#include <string_view>
#include <vector>

#include "host/model.h"

using namespace mirax;

namespace {

bool unit_and_orthogonal(const Frame& f) {
  const Vec3* axes[] = {&f.x, &f.y, &f.z};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const Vec3& a = *axes[i];
      const Vec3& b = *axes[j];
      const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
      if (!std::isfinite(dot) || std::fabs(dot - (i == j ? 1.0 : 0.0)) > 1e-5) return false;
    }
  return true;
}

// The number of component occurrences under `model` (memoised), capped.
double occurrences(const Assembly& a, int model, std::vector<double>& memo) {
  double& n = memo[static_cast<size_t>(model)];
  if (n >= 0) return n;
  n = 0;
  for (const Component& c : a.models[static_cast<size_t>(model)].components)
    n += 1 + occurrences(a, c.model, memo);
  return n;
}

// Depth of the deepest component below `model`; aborts on a cycle (depth beyond the model count).
int depth(const Assembly& a, int model, int level) {
  if (level > static_cast<int>(a.models.size())) abort();
  int deepest = 0;
  for (const Component& c : a.models[static_cast<size_t>(model)].components)
    deepest = std::max(deepest, 1 + depth(a, c.model, level + 1));
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Assembly a;
  try {
    a = parse_assembly(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const ModelError&) {
    return 0;
  }
  if (a.top < 0 || static_cast<size_t>(a.top) >= a.models.size()) abort();
  for (const Model& m : a.models) {
    if (m.wide_name.empty() || m.wide_name.size() > kMaxNameUnits) abort();
    if (m.type == ModelType::part && !m.components.empty()) abort();
    for (size_t i = 0; i < m.csys.size(); ++i) {
      const Csys& c = m.csys[i];
      if (c.wide_name.empty() || c.wide_name.size() > kMaxNameUnits ||
          c.id != static_cast<int>(i) + 1)
        abort();
      if (!unit_and_orthogonal(c.frame)) abort();
    }
    for (size_t i = 0; i < m.components.size(); ++i) {
      const Component& c = m.components[i];
      if (c.model < 0 || static_cast<size_t>(c.model) >= a.models.size()) abort();
      if (c.feature_id != static_cast<int>(m.csys.size() + i) + 1) abort();
      if (!unit_and_orthogonal(c.placement)) abort();
    }
  }
  for (size_t m = 0; m < a.models.size(); ++m)
    if (depth(a, static_cast<int>(m), 0) > kMaxDepth) abort();

  // Picking: only for trees the list can hold (a shared sub-assembly multiplies its csys).
  std::vector<double> memo(a.models.size(), -1);
  if (occurrences(a, a.top, memo) > 2000) return 0;
  for (const CsysLocation& pick : pickable_csys(a)) {
    CsysLocation again;
    try {
      again = resolve_reference(a, pick.path);
    } catch (const ModelError&) {
      abort();
    }
    if (again.components != pick.components || again.model != pick.model || again.csys != pick.csys)
      abort();
  }
  return 0;
}
