// STEP assembly files written as text for the tests and benchmarks: products with named
// placements in their shape representation, instances placed in their parent in the styles
// CAD systems write (a transformation in either direction, a mapped item, none), lengths in
// millimetres or inches per representation; and where each instance and csys lies in the top
// product, composed here as the oracle.
#pragma once
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stepgen {

using Vec3 = std::array<double, 3>;

// A right-handed frame: its axes and origin in the parent's coordinates.
struct Frame {
  Vec3 x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1}, origin{0, 0, 0};
};

// A frame turned by `degrees` about the axis `u`, at `origin`.
inline Frame turned(Vec3 u, double degrees, Vec3 origin) {
  const double n = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  for (double& v : u) v /= n;
  const double a = degrees * std::acos(-1.0) / 180.0, c = std::cos(a), s = std::sin(a), t = 1 - c;
  Frame f;
  f.x = {t * u[0] * u[0] + c, t * u[0] * u[1] + s * u[2], t * u[0] * u[2] - s * u[1]};
  f.y = {t * u[0] * u[1] - s * u[2], t * u[1] * u[1] + c, t * u[1] * u[2] + s * u[0]};
  f.z = {t * u[0] * u[2] + s * u[1], t * u[1] * u[2] - s * u[0], t * u[2] * u[2] + c};
  f.origin = origin;
  return f;
}

// The product of two placements: `inner` placed in a frame that `outer` places.
inline Frame compose(const Frame& inner, const Frame& outer) {
  const auto apply = [&](const Vec3& v, bool point) {
    Vec3 out = point ? outer.origin : Vec3{0, 0, 0};
    for (int i = 0; i < 3; ++i) out[i] += v[0] * outer.x[i] + v[1] * outer.y[i] + v[2] * outer.z[i];
    return out;
  };
  return {apply(inner.x, false), apply(inner.y, false), apply(inner.z, false),
          apply(inner.origin, true)};
}

struct ProductStyle {
  bool inch = false;           // its representation in inches, in a context of its own
  bool shape = true;           // false: a placeholder product without a shape representation
  bool unset_names = false;    // `$` for the names of its PRODUCT_DEFINITION_SHAPE
  std::string documents = "";  // a native file its definition lists (..._WITH_ASSOCIATED_DOCUMENTS)
  std::string external = "";   // the STEP file holding its contents (APPLIED_DOCUMENT_REFERENCE)
  bool sub_shape = false;      // a SOLID representation related to its own, no product
};

// How an instance is placed: rep_1 the child's representation, rep_1 the parent's (reversed),
// a MAPPED_ITEM in the parent's representation, or no CONTEXT_DEPENDENT_SHAPE_REPRESENTATION.
enum class Placing { forward, reversed, mapped, none };

struct UseStyle {
  Placing placing = Placing::forward;
  bool unset_names = false;   // `$` names on its transformation and product definition shape
  std::string location = "";  // the text of its placement's CARTESIAN_POINT, when given
  bool at_direction = false;  // its transformation points at a DIRECTION
};

class Writer {
 public:
  explicit Writer(bool inch) {
    const int app = add("APPLICATION_CONTEXT('automotive design')");
    add("APPLICATION_PROTOCOL_DEFINITION('international standard','automotive_design',2000," +
        ref(app) + ")");
    product_context_ = add("PRODUCT_CONTEXT(''," + ref(app) + ",'mechanical')");
    definition_context_ =
        add("PRODUCT_DEFINITION_CONTEXT('part definition'," + ref(app) + ",'design')");
    context_ = unit_context(add("(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.))"));
    if (inch) context_ = inch_context();
  }

  // A product and its shape representation holding its origin and the named placements;
  // returns its handle for use().
  int product(const std::string& name, const std::vector<std::pair<std::string, Frame>>& named,
              const ProductStyle& style = {}) {
    const int p = add("PRODUCT('" + name + "','" + name + "','',(" + ref(product_context_) + "))");
    const int formation = add("PRODUCT_DEFINITION_FORMATION('',''," + ref(p) + ")");
    std::string documents;
    if (!style.documents.empty()) {
      const int kind = add("DOCUMENT_TYPE('')");
      documents = ",(" +
                  ref(add("DOCUMENT_FILE('" + style.documents + "','',$," + ref(kind) + ",'',$)")) +
                  ")";
    }
    const int definition =
        add(std::string(documents.empty() ? "PRODUCT_DEFINITION"
                                          : "PRODUCT_DEFINITION_WITH_ASSOCIATED_DOCUMENTS") +
            "('design',''," + ref(formation) + "," + ref(definition_context_) + documents + ")");
    if (!style.external.empty()) {
      const int kind = add("DOCUMENT_TYPE('')");
      const int file = add("DOCUMENT_FILE('" + style.external + "','',$," + ref(kind) + ",'',$)");
      add("APPLIED_DOCUMENT_REFERENCE(" + ref(file) + ",''," + "(" + ref(definition) + "))");
    }
    const int context = style.inch ? inch_context() : context_;
    const double mm = context == inch_context_ ? 25.4 : 1.0;
    products_.push_back({name, definition, 0, 0, mm, {}, {}, {}, 0});
    Product& made = products_.back();
    if (!style.shape) return static_cast<int>(products_.size()) - 1;
    const int shape = add(std::string("PRODUCT_DEFINITION_SHAPE(") +
                          (style.unset_names ? "$,$," : "'','',") + ref(definition) + ")");
    made.origin = placement("", Frame{});
    made.items = ref(made.origin);
    for (const auto& [csys, frame] : named) {
      made.items += "," + ref(placement(csys, frame));
      Frame in_mm = frame;
      for (double& c : in_mm.origin) c *= mm;
      made.named.emplace(csys, in_mm);
    }
    made.rep = next_++;  // written by save(), when its items are known
    made.context = context;
    add("SHAPE_DEFINITION_REPRESENTATION(" + ref(shape) + "," + ref(made.rep) + ")");
    if (style.sub_shape) {
      const int solid = add("ADVANCED_BREP_SHAPE_REPRESENTATION('SOLID',(" +
                            ref(placement("", Frame{})) + ")," + ref(made.context) + ")");
      add("SHAPE_REPRESENTATION_RELATIONSHIP('',''," + ref(made.rep) + "," + ref(solid) + ")");
    }
    return static_cast<int>(products_.size()) - 1;
  }

  // An instance of `child` in `parent`, placed by `where` (in the parent's units).
  void use(int parent, int child, const Frame& where, const UseStyle& style = {}) {
    Product& p = products_[static_cast<size_t>(parent)];
    const Product& c = products_[static_cast<size_t>(child)];
    Frame in_mm = where;
    for (double& v : in_mm.origin) v *= p.mm;
    p.uses.push_back({child, style.placing == Placing::none || !c.rep ? Frame{} : in_mm});
    const int usage = add("NEXT_ASSEMBLY_USAGE_OCCURRENCE('u" + std::to_string(next_) + "','',''," +
                          ref(p.definition) + "," + ref(c.definition) + ",$)");
    if (style.placing == Placing::none || !c.rep) return;
    const int shape = add(std::string("PRODUCT_DEFINITION_SHAPE(") +
                          (style.unset_names ? "$,$," : "'','',") + ref(usage) + ")");
    const int at = style.at_direction ? add(triple("DIRECTION", where.z))
                                      : placement("", where, style.location);
    std::string relation;
    if (style.placing == Placing::mapped) {
      const int map = add("REPRESENTATION_MAP(" + ref(c.origin) + "," + ref(c.rep) + ")");
      p.items += "," + ref(add("MAPPED_ITEM(''," + ref(map) + "," + ref(at) + ")"));
      relation = "SHAPE_REPRESENTATION_RELATIONSHIP('',''," + ref(c.rep) + "," + ref(p.rep) + ")";
    } else {
      const bool reversed = style.placing == Placing::reversed;
      const int transform =
          add(std::string("ITEM_DEFINED_TRANSFORMATION(") + (style.unset_names ? "$," : "'',") +
              "''," + ref(reversed ? at : c.origin) + "," + ref(reversed ? c.origin : at) + ")");
      relation = "(REPRESENTATION_RELATIONSHIP('',''," + ref(reversed ? p.rep : c.rep) + "," +
                 ref(reversed ? c.rep : p.rep) +
                 ")REPRESENTATION_RELATIONSHIP_WITH_TRANSFORMATION(" + ref(transform) +
                 ")SHAPE_REPRESENTATION_RELATIONSHIP())";
    }
    add("CONTEXT_DEPENDENT_SHAPE_REPRESENTATION(" + ref(add(relation)) + "," + ref(shape) + ")");
  }

  // Any other entity, as its text; returns its number.
  int add(const std::string& entity) {
    data_ += ref(next_) + "=" + entity + ";\n";
    return next_++;
  }

  // Where each instance below `top` lies in it (in millimetres), depth first as the report lists
  // them, with its product's name; with `csys`, where that csys of each instance lies (nothing
  // for a product without it).
  std::vector<std::pair<std::string, std::optional<Frame>>> placed(int top,
                                                                   const std::string& csys) const {
    std::vector<std::pair<std::string, std::optional<Frame>>> out;
    place(top, Frame{}, csys, out);
    return out;
  }

  void save(const std::string& file) const {
    std::string reps;
    for (const Product& p : products_)
      if (p.rep)
        reps +=
            ref(p.rep) + "=SHAPE_REPRESENTATION('',(" + p.items + ")," + ref(p.context) + ");\n";
    std::ofstream(file, std::ios::binary)
        << "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION((''),'2;1');\n"
           "FILE_NAME('','2026-01-01T00:00:00',(''),(''),'','','');\n"
           "FILE_SCHEMA(('AUTOMOTIVE_DESIGN { 1 0 10303 214 1 1 1 1 }'));\nENDSEC;\nDATA;\n"
        << data_ << reps << "ENDSEC;\nEND-ISO-10303-21;\n";
  }

 private:
  struct Product {
    std::string name;
    int definition, origin, rep;
    double mm;                                // millimetres per unit of its representation
    std::map<std::string, Frame> named;       // its named placements, in millimetres
    std::vector<std::pair<int, Frame>> uses;  // child and placement, in millimetres
    std::string items;                        // its representation's items
    int context = 0;
  };

  void place(int product, const Frame& above, const std::string& csys,
             std::vector<std::pair<std::string, std::optional<Frame>>>& out) const {
    for (const auto& [child, where] : products_[static_cast<size_t>(product)].uses) {
      const Product& c = products_[static_cast<size_t>(child)];
      const Frame placed_at = compose(where, above);
      const auto it = c.named.find(csys);
      out.emplace_back(c.name, csys == "ORIGIN" ? std::optional<Frame>(placed_at)
                               : it == c.named.end()
                                   ? std::nullopt
                                   : std::optional<Frame>(compose(it->second, placed_at)));
      place(child, placed_at, csys, out);
    }
  }

  int unit_context(int length) {
    const int angle = add("(NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.))");
    const int solid = add("(NAMED_UNIT(*)SI_UNIT($,.STERADIAN.)SOLID_ANGLE_UNIT())");
    const int uncertainty = add("UNCERTAINTY_MEASURE_WITH_UNIT(LENGTH_MEASURE(1.E-07)," +
                                ref(length) + ",'distance_accuracy_value','')");
    return add("(GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNCERTAINTY_ASSIGNED_CONTEXT((" +
               ref(uncertainty) + "))GLOBAL_UNIT_ASSIGNED_CONTEXT((" + ref(length) + "," +
               ref(angle) + "," + ref(solid) + "))REPRESENTATION_CONTEXT('',''))");
  }

  int inch_context() {
    if (inch_context_) return inch_context_;
    const int mm = add("(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.))");
    const int dims = add("DIMENSIONAL_EXPONENTS(1.,0.,0.,0.,0.,0.,0.)");
    const int measure = add("LENGTH_MEASURE_WITH_UNIT(LENGTH_MEASURE(25.4)," + ref(mm) + ")");
    return inch_context_ = unit_context(add("(CONVERSION_BASED_UNIT('INCH'," + ref(measure) +
                                            ")LENGTH_UNIT()NAMED_UNIT(" + ref(dims) + "))"));
  }

  static std::string ref(int id) { return "#" + std::to_string(id); }
  std::string triple(const char* kind, const Vec3& v) {
    char text[160];  // %E always writes the decimal point a STEP real needs
    std::snprintf(text, sizeof text, "%s('',(%.17E,%.17E,%.17E))", kind, v[0], v[1], v[2]);
    return text;
  }
  int placement(const std::string& name, const Frame& f, const std::string& location = "") {
    const int origin = add(location.empty() ? triple("CARTESIAN_POINT", f.origin)
                                            : "CARTESIAN_POINT(''," + location + ")");
    const int z = add(triple("DIRECTION", f.z));
    const int x = add(triple("DIRECTION", f.x));
    return add("AXIS2_PLACEMENT_3D('" + name + "'," + ref(origin) + "," + ref(z) + "," + ref(x) +
               ")");
  }

  std::string data_;
  int next_ = 1;
  int product_context_ = 0, definition_context_ = 0, context_ = 0, inch_context_ = 0;
  std::vector<Product> products_;
};

}  // namespace stepgen
