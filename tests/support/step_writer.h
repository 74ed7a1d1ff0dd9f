// STEP assembly files written as text for the tests and benchmarks: products with named
// placements in their shape representation, instances placed in their parent, lengths in
// millimetres or inches.
#pragma once
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
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

class Writer {
 public:
  explicit Writer(bool inch) {
    const int app = add("APPLICATION_CONTEXT('automotive design')");
    add("APPLICATION_PROTOCOL_DEFINITION('international standard','automotive_design',2000," +
        ref(app) + ")");
    product_context_ = add("PRODUCT_CONTEXT(''," + ref(app) + ",'mechanical')");
    definition_context_ =
        add("PRODUCT_DEFINITION_CONTEXT('part definition'," + ref(app) + ",'design')");
    int length = add("(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.))");
    if (inch) {
      const int dims = add("DIMENSIONAL_EXPONENTS(1.,0.,0.,0.,0.,0.,0.)");
      const int measure = add("LENGTH_MEASURE_WITH_UNIT(LENGTH_MEASURE(25.4)," + ref(length) + ")");
      length = add("(CONVERSION_BASED_UNIT('INCH'," + ref(measure) + ")LENGTH_UNIT()NAMED_UNIT(" +
                   ref(dims) + "))");
    }
    const int angle = add("(NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.))");
    const int solid = add("(NAMED_UNIT(*)SI_UNIT($,.STERADIAN.)SOLID_ANGLE_UNIT())");
    const int uncertainty = add("UNCERTAINTY_MEASURE_WITH_UNIT(LENGTH_MEASURE(1.E-07)," +
                                ref(length) + ",'distance_accuracy_value','')");
    context_ = add("(GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNCERTAINTY_ASSIGNED_CONTEXT((" +
                   ref(uncertainty) + "))GLOBAL_UNIT_ASSIGNED_CONTEXT((" + ref(length) + "," +
                   ref(angle) + "," + ref(solid) + "))REPRESENTATION_CONTEXT('',''))");
  }

  // A product and its shape representation holding its origin and the named placements;
  // returns its handle for use().
  int product(const std::string& name, const std::vector<std::pair<std::string, Frame>>& named) {
    const int p = add("PRODUCT('" + name + "','" + name + "','',(" + ref(product_context_) + "))");
    const int formation = add("PRODUCT_DEFINITION_FORMATION('',''," + ref(p) + ")");
    const int definition = add("PRODUCT_DEFINITION('design',''," + ref(formation) + "," +
                               ref(definition_context_) + ")");
    const int shape = add("PRODUCT_DEFINITION_SHAPE('',''," + ref(definition) + ")");
    const int origin = placement("", Frame{});
    std::string items = ref(origin);
    for (const auto& [csys, frame] : named) items += "," + ref(placement(csys, frame));
    const int rep = add("SHAPE_REPRESENTATION('',(" + items + ")," + ref(context_) + ")");
    add("SHAPE_DEFINITION_REPRESENTATION(" + ref(shape) + "," + ref(rep) + ")");
    products_.push_back({definition, origin, rep});
    return static_cast<int>(products_.size()) - 1;
  }

  // An instance of `child` in `parent`, placed by `where`.
  void use(int parent, int child, const Frame& where) {
    const Product& p = products_[static_cast<size_t>(parent)];
    const Product& c = products_[static_cast<size_t>(child)];
    const int usage = add("NEXT_ASSEMBLY_USAGE_OCCURRENCE('u" + std::to_string(next_) + "','',''," +
                          ref(p.definition) + "," + ref(c.definition) + ",$)");
    const int shape = add("PRODUCT_DEFINITION_SHAPE('',''," + ref(usage) + ")");
    const int transform = add("ITEM_DEFINED_TRANSFORMATION('',''," + ref(c.origin) + "," +
                              ref(placement("", where)) + ")");
    const int relation = add("(REPRESENTATION_RELATIONSHIP('',''," + ref(c.rep) + "," + ref(p.rep) +
                             ")REPRESENTATION_RELATIONSHIP_WITH_TRANSFORMATION(" + ref(transform) +
                             ")SHAPE_REPRESENTATION_RELATIONSHIP())");
    add("CONTEXT_DEPENDENT_SHAPE_REPRESENTATION(" + ref(relation) + "," + ref(shape) + ")");
  }

  void save(const std::string& file) const {
    std::ofstream(file, std::ios::binary)
        << "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION((''),'2;1');\n"
           "FILE_NAME('','2026-01-01T00:00:00',(''),(''),'','','');\n"
           "FILE_SCHEMA(('AUTOMOTIVE_DESIGN { 1 0 10303 214 1 1 1 1 }'));\nENDSEC;\nDATA;\n"
        << data_ << "ENDSEC;\nEND-ISO-10303-21;\n";
  }

 private:
  struct Product {
    int definition, origin, rep;
  };

  static std::string ref(int id) { return "#" + std::to_string(id); }
  int add(const std::string& entity) {
    data_ += ref(next_) + "=" + entity + ";\n";
    return next_++;
  }
  std::string triple(const char* kind, const Vec3& v) {
    char text[160];  // %E always writes the decimal point a STEP real needs
    std::snprintf(text, sizeof text, "%s('',(%.17E,%.17E,%.17E))", kind, v[0], v[1], v[2]);
    return text;
  }
  int placement(const std::string& name, const Frame& f) {
    const int origin = add(triple("CARTESIAN_POINT", f.origin));
    const int z = add(triple("DIRECTION", f.z));
    const int x = add(triple("DIRECTION", f.x));
    return add("AXIS2_PLACEMENT_3D('" + name + "'," + ref(origin) + "," + ref(z) + "," + ref(x) +
               ")");
  }

  std::string data_;
  int next_ = 1;
  int product_context_ = 0, definition_context_ = 0, context_ = 0;
  std::vector<Product> products_;
};

}  // namespace stepgen
