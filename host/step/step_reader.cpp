// The STEP reader: OCCT parses the file (no transfer of geometry), and the product structure is
// read from the parsed entities in one pass: product definitions with their shape
// representations, their uses (NEXT_ASSEMBLY_USAGE_OCCURRENCE) and the placement of each use
// (an ITEM_DEFINED_TRANSFORMATION written in either direction, or a MAPPED_ITEM), and the named
// placements of each product's shape representations.
#include <StepAP214_Protocol.hxx>
#include <Interface_Check.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPConstruct_UnitContext.hxx>
#include <STEPControl_Controller.hxx>
#include <StepAP214.hxx>
#include <StepAP214_AppliedDocumentReference.hxx>
#include <StepBasic_DocumentFile.hxx>
#include <StepBasic_DocumentProductEquivalence.hxx>
#include <StepBasic_Product.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepBasic_ProductDefinitionFormation.hxx>
#include <StepBasic_ProductDefinitionWithAssociatedDocuments.hxx>
#include <StepData_Protocol.hxx>
#include <StepData_StepModel.hxx>
#include <StepFile_Read.hxx>
#include <StepGeom_Axis2Placement3d.hxx>
#include <StepGeom_CartesianPoint.hxx>
#include <StepGeom_Direction.hxx>
#include <StepGeom_GeomRepContextAndGlobUnitAssCtxAndGlobUncertaintyAssCtx.hxx>
#include <StepGeom_GeometricRepresentationContextAndGlobalUnitAssignedContext.hxx>
#include <StepRepr_GlobalUnitAssignedContext.hxx>
#include <StepRepr_ItemDefinedTransformation.hxx>
#include <StepRepr_MappedItem.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <StepRepr_ProductDefinitionShape.hxx>
#include <StepRepr_Representation.hxx>
#include <StepRepr_RepresentationMap.hxx>
#include <StepRepr_RepresentationRelationshipWithTransformation.hxx>
#include <StepRepr_ShapeRepresentationRelationship.hxx>
#include <StepRepr_Transformation.hxx>
#include <StepShape_ContextDependentShapeRepresentation.hxx>
#include <StepShape_ShapeDefinitionRepresentation.hxx>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <unordered_map>
#include <unordered_set>

#include "host/encoding.h"
#include "host/frame_math.h"
#include "host/step/model_file.h"

namespace mirax {

const bool kStepSupported = true;

namespace {

using Entity = const Standard_Transient*;

std::string text_of(const Handle(TCollection_HAsciiString) & s) {
  return s.IsNull() ? std::string() : std::string(s->ToCString());
}

Vec3 unit(Vec3 v) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (double& c : v) c /= n;
  return v;
}

Frame frame_of(const Matrix4& m) {
  Frame f;
  for (size_t i = 0; i < 3; ++i) {
    f.x[i] = m[0][i];
    f.y[i] = m[1][i];
    f.z[i] = m[2][i];
    f.origin[i] = m[3][i];
  }
  return f;
}

// The STEP name of an entity's type from OCCT's class name: StepGeom_CartesianPoint ->
// CARTESIAN_POINT.
std::string step_type(const Handle(Standard_Transient) & entity) {
  const std::string cls = entity->DynamicType()->Name();
  std::string out;
  for (size_t i = cls.find('_') + 1; i > 0 && i < cls.size(); ++i) {
    const char c = cls[i];
    if (c >= 'A' && c <= 'Z' && !out.empty()) out += '_';
    out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return out;
}

// The names given to the products of one run (the file and the files it refers to): a name
// given twice gets the first free suffix "~2", "~3", ..., cut so that it holds 31 characters.
class ProductNames {
 public:
  void reserve(const std::string& name) { written_.insert(name); }
  // The name the product gets; `renamed` tells whether it differs from `name`.
  std::string claim(const std::string& name, bool& renamed) {
    renamed = !given_.insert(name).second;
    if (!renamed) return name;
    const auto wide = utf8_to_wide(name);
    for (int n = 2;; ++n) {
      const std::u16string suffix = u"~" + utf8_to_wide(std::to_string(n)).value();
      size_t keep = std::min(wide->size(), kMaxNameUnits - suffix.size());
      if (keep > 0 && keep < wide->size() && (*wide)[keep - 1] >= 0xD800 &&
          (*wide)[keep - 1] < 0xDC00)
        --keep;  // a surrogate pair stays whole
      const std::string candidate = wide_to_utf8(wide->substr(0, keep) + suffix);
      if (!written_.count(candidate) && given_.insert(candidate).second) return candidate;
    }
  }

 private:
  std::unordered_set<std::string> written_;  // every product name the files hold
  std::unordered_set<std::string> given_;    // the names given so far
};

// What one run shares between the file and the files it refers to.
struct Run {
  std::ostream& warnings;
  Assembly assembly;
  ProductNames names;
  std::vector<std::string> open_files;  // the chain of files being read, the first one first
  std::map<std::pair<size_t, size_t>, std::string> instances;  // (model, component) -> its use
};

// One product definition of the file.
struct Product {
  Handle(StepBasic_ProductDefinition) definition;
  std::vector<Handle(StepRepr_Representation)> reps;
  std::vector<size_t> uses;  // indices into uses_, in file order
  int parents = 0;
  std::string external;  // the STEP file holding the product's contents, as the file names it
  std::string name;      // the model's name, once given
  int model = -1;
  bool open = false;  // on the way down from the top
};

// One use of a product in another.
struct Use {
  Handle(StepRepr_NextAssemblyUsageOccurrence) usage;
  size_t parent = 0, child = 0;
  Handle(StepShape_ContextDependentShapeRepresentation) placement;
};

class StepFileReader {
 public:
  StepFileReader(const std::string& file, Run& run) : file_(file), run_(run) {}

  // Reads the file's one top product into `into` (a model that refers to this file) or, when
  // `into` is negative, as a new model; returns the model's index.
  int read(int into) {
    {
      std::ifstream probe(path_from_utf8(file_), std::ios::binary);
      if (!probe) fail("cannot be read");
    }
    Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
    // OCCT's parser alone (what STEPControl_Reader::ReadFile runs, without a work session).
    STEPControl_Controller::Init();                         // the entity types and parameters
    Interface_Static::SetCVal("xstep.cascade.unit", "MM");  // unit factors in millimetres
    model_ = new StepData_StepModel;
    const Handle(StepData_Protocol) protocol = StepAP214::Protocol();
    model_->SetProtocol(protocol);
    if (StepFile_Read(file_.c_str(), nullptr, model_, protocol) != 0)
      fail("not a readable STEP file");
    // Faults the parser notes for the file as a whole (in its header, say) refuse nothing: an
    // unresolved reference is a fault of the entity holding it too.
    if (model_->NbEntities() == 0) fail("holds no STEP entity");
    index();
    return walk(top(), into);
  }

 private:
  [[noreturn]] void fail(const std::string& fault) const { throw ModelError(file_ + ": " + fault); }

  void warn(const std::string& text) const {
    run_.warnings << "mirax: warning: " << file_ << ": " << text << "\n";
  }

  std::string label_of(const Handle(Standard_Transient) & entity) const {
    const Handle(TCollection_HAsciiString) label = model_->StringLabel(entity);
    return label.IsNull() ? std::string("?") : std::string(label->ToCString());
  }

  // An entity the structure is read from: refused when the parser found a fault in it, except
  // for an unset or malformed name or description, which reads as empty.
  template <class T>
  Handle(T) used(const Handle(T) & entity, const Handle(Standard_Transient) & from,
                 const char* what) const {
    if (entity.IsNull())
      fail("malformed STEP data at entity " + label_of(from) + ": its " + what + " is missing");
    const Standard_Integer number = model_->Number(entity);
    if (number == 0 || !(model_->IsErrorEntity(number) || model_->IsRedefinedContent(number)))
      return entity;
    const Handle(Interface_Check) check = model_->Check(number, true);
    for (Standard_Integer i = 1; !check.IsNull() && i <= check->NbFails(); ++i) {
      const std::string fault = check->CFail(i);
      const bool name = fault.find("name) not a quoted String") != std::string::npos ||
                        fault.find("description) not a quoted String") != std::string::npos;
      if (!name)
        fail("malformed STEP data at entity " + label_of(entity) + " (" + step_type(entity) +
             "): " + fault);
    }
    return entity;
  }

  size_t product_index(const Handle(StepBasic_ProductDefinition) & pd) const {
    const auto it = product_of_.find(pd.get());
    if (it == product_of_.end())
      fail("malformed STEP data at entity " + label_of(pd) + ": not a product definition");
    return it->second;
  }

  // One pass over the entities: products, their representations and uses, the placement of
  // each use, and the external files products refer to.
  void index() {
    std::vector<Handle(StepShape_ShapeDefinitionRepresentation)> shapes;
    std::vector<Handle(StepShape_ContextDependentShapeRepresentation)> placements;
    std::vector<Handle(StepAP214_AppliedDocumentReference)> references;
    std::unordered_map<Entity, std::vector<Handle(StepBasic_ProductDefinitionFormation)>>
        equivalents;  // document -> the formations of its product definitions
    std::unordered_map<Entity, std::vector<Handle(StepBasic_Document)>> files;  // by formation
    std::unordered_map<Entity, size_t> use_of;  // by NEXT_ASSEMBLY_USAGE_OCCURRENCE
    for (Standard_Integer i = 1; i <= model_->NbEntities(); ++i) {
      const Handle(Standard_Transient)& e = model_->Value(i);
      if (const auto pd = Handle(StepBasic_ProductDefinition)::DownCast(e); !pd.IsNull()) {
        product_of_.emplace(pd.get(), products_.size());
        products_.push_back({pd, {}, {}, 0, {}, {}, -1, false});
        if (const auto with =
                Handle(StepBasic_ProductDefinitionWithAssociatedDocuments)::DownCast(pd);
            !with.IsNull() && !with->Formation().IsNull())
          for (Standard_Integer d = 1; d <= with->NbDocIds(); ++d)
            files[with->Formation().get()].push_back(with->DocIdsValue(d));
      } else if (const auto nauo = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(e);
                 !nauo.IsNull()) {
        use_of.emplace(nauo.get(), uses_.size());
        uses_.push_back({nauo, 0, 0, {}});
      } else if (const auto sdr = Handle(StepShape_ShapeDefinitionRepresentation)::DownCast(e);
                 !sdr.IsNull()) {
        shapes.push_back(sdr);
      } else if (const auto cdsr =
                     Handle(StepShape_ContextDependentShapeRepresentation)::DownCast(e);
                 !cdsr.IsNull()) {
        placements.push_back(cdsr);
      } else if (const auto adr = Handle(StepAP214_AppliedDocumentReference)::DownCast(e);
                 !adr.IsNull()) {
        references.push_back(adr);
      } else if (const auto dpe = Handle(StepBasic_DocumentProductEquivalence)::DownCast(e);
                 !dpe.IsNull() && !dpe->RelatingDocument().IsNull() &&
                 !dpe->RelatedProduct().ProductDefinitionFormation().IsNull()) {
        equivalents[dpe->RelatingDocument().get()].push_back(
            dpe->RelatedProduct().ProductDefinitionFormation());
      } else if (const auto idt = Handle(StepRepr_ItemDefinedTransformation)::DownCast(e);
                 !idt.IsNull()) {
        placing_.insert(idt->TransformItem2().get());
      } else if (const auto mapped = Handle(StepRepr_MappedItem)::DownCast(e); !mapped.IsNull()) {
        placing_.insert(mapped->MappingTarget().get());
      }
    }
    // A shape representation belongs to the product definition its property defines.
    for (const auto& sdr : shapes) {
      if (sdr->Definition().IsNull()) continue;
      const auto pds =
          Handle(StepRepr_ProductDefinitionShape)::DownCast(sdr->Definition().PropertyDefinition());
      if (pds.IsNull() || sdr->UsedRepresentation().IsNull()) continue;
      const Handle(StepBasic_ProductDefinition) pd = pds->Definition().ProductDefinition();
      if (pd.IsNull()) continue;
      used(pds, sdr, "definition");
      products_[product_index(pd)].reps.push_back(used(sdr->UsedRepresentation(), sdr, "shape"));
    }
    for (size_t u = 0; u < uses_.size(); ++u) {
      Use& use = uses_[u];
      used(use.usage, use.usage, "");
      use.parent = product_index(
          used(use.usage->RelatingProductDefinition(), use.usage, "relating_product_definition"));
      use.child = product_index(
          used(use.usage->RelatedProductDefinition(), use.usage, "related_product_definition"));
      products_[use.parent].uses.push_back(u);
      ++products_[use.child].parents;
    }
    for (const auto& cdsr : placements) {
      const Handle(StepRepr_ProductDefinitionShape) pds = cdsr->RepresentedProductRelation();
      if (pds.IsNull()) continue;
      const auto it = use_of.find(pds->Definition().ProductDefinitionRelationship().get());
      if (it == use_of.end()) continue;
      Use& use = uses_[it->second];
      if (use.placement.IsNull()) use.placement = used(cdsr, cdsr, "");
    }
    // A product whose contents lie in a STEP file of their own (a document referred to by an
    // APPLIED_DOCUMENT_REFERENCE); the documents a product definition merely lists (the native
    // files of the system that wrote it) are no contents to read.
    for (const auto& adr : references) {
      const Handle(StepBasic_Document) document = adr->AssignedDocument();
      if (document.IsNull()) continue;
      std::vector<Handle(StepBasic_Document)> candidates;
      if (!Handle(StepBasic_DocumentFile)::DownCast(document).IsNull())
        candidates.push_back(document);
      for (const auto& formation : equivalents[document.get()])
        for (const auto& file : files[formation.get()]) candidates.push_back(file);
      std::string external;
      for (const auto& file : candidates)
        for (const std::string& name : {text_of(file->Id()), text_of(file->Name())})
          if (external.empty() && is_step_file(name)) external = name;
      if (external.empty()) continue;
      for (Standard_Integer i = 1; i <= adr->NbItems(); ++i) {
        const Handle(StepBasic_ProductDefinition) pd = adr->ItemsValue(i).ProductDefinition();
        if (!pd.IsNull() && product_of_.count(pd.get()))
          products_[product_index(pd)].external = external;
      }
    }
  }

  // The one product used by no other; products with neither a shape nor instances (documents)
  // do not count.
  size_t top() {
    std::vector<size_t> tops;
    for (size_t p = 0; p < products_.size(); ++p) {
      const Product& product = products_[p];
      if (product.parents == 0 &&
          (!product.reps.empty() || !product.uses.empty() || !product.external.empty()))
        tops.push_back(p);
    }
    if (tops.size() == 1) return tops[0];
    if (tops.size() > 1) {
      std::string names;
      for (size_t i = 0; i < tops.size(); ++i)
        names += (i > 0 ? ", \"" : "\"") + product_name(products_[tops[i]]) + "\"";
      fail("holds " + std::to_string(tops.size()) + " top-level products (" + names +
           "), not one assembly");
    }
    // Every product is used by another: going up from any product meets a product a second
    // time, which lies on a cycle; the walk down from it finds the cycle.
    if (uses_.empty()) fail("holds no product");
    std::vector<size_t> parent_of(products_.size(), 0);
    for (const Use& use : uses_) parent_of[use.child] = use.parent;
    std::vector<bool> seen(products_.size(), false);
    size_t p = 0;
    while (products_[p].parents == 0) ++p;
    while (!seen[p]) {
      seen[p] = true;
      p = parent_of[p];
    }
    return p;
  }

  // The product's name, its id when the name is empty; `check` refuses a fault in the product.
  std::string product_name(const Product& product, bool check = true) const {
    const Handle(StepBasic_ProductDefinitionFormation) formation = product.definition->Formation();
    if (formation.IsNull() || formation->OfProduct().IsNull()) return {};
    const Handle(StepBasic_Product) item =
        check ? used(formation->OfProduct(), formation, "of_product") : formation->OfProduct();
    const std::string name = text_of(item->Name());
    return name.empty() ? text_of(item->Id()) : name;
  }

  // A name the report cannot hold for its length is cut to 31 characters, with a warning; any
  // other fault of a name (empty, a character names cannot hold) refuses the file, as in JSON.
  std::string holdable(const std::string& name, const std::string& where, const char* what) {
    const std::string cut = cut_name(name);
    if (cut != name) warn(where + ": " + what + " \"" + name + "\" cut to \"" + cut + "\"");
    return cut;
  }

  static std::string cut_name(const std::string& name) {
    auto wide = utf8_to_wide(name);
    if (!wide || wide->size() <= kMaxNameUnits) return name;
    size_t keep = kMaxNameUnits;
    if ((*wide)[keep - 1] >= 0xD800 && (*wide)[keep - 1] < 0xDC00) --keep;  // a pair stays whole
    return wide_to_utf8(wide->substr(0, keep));
  }

  // The length unit of a representation in millimetres (1 where its context names none).
  double millimetres_per_unit(const Handle(StepRepr_Representation) & rep) {
    const Handle(StepRepr_RepresentationContext) context = rep->ContextOfItems();
    if (context.IsNull()) return 1.0;
    if (const auto it = unit_of_.find(context.get()); it != unit_of_.end()) return it->second;
    Handle(StepRepr_GlobalUnitAssignedContext) units;
    if (const auto c = Handle(
            StepGeom_GeometricRepresentationContextAndGlobalUnitAssignedContext)::DownCast(context);
        !c.IsNull())
      units = c->GlobalUnitAssignedContext();
    else if (const auto c3 =
                 Handle(StepGeom_GeomRepContextAndGlobUnitAssCtxAndGlobUncertaintyAssCtx)::DownCast(
                     context);
             !c3.IsNull())
      units = c3->GlobalUnitAssignedContext();
    double factor = 1.0;
    if (!units.IsNull()) {
      used(context, rep, "context_of_items");
      STEPConstruct_UnitContext unit_context;
      unit_context.ComputeFactors(units);
      factor = unit_context.LengthFactor();
      if (!std::isfinite(factor) || !(factor > 0))
        fail("malformed STEP data at entity " + label_of(context) +
             ": its length unit is not valid");
    }
    return unit_of_[context.get()] = factor;
  }

  // A placement's frame as STEP builds its axes: z the axis (default z), x the reference
  // direction made normal to z (default x, or y when z lies along x), y = z × x; the origin in
  // millimetres. Refused unless it is an AXIS2_PLACEMENT_3D of three finite coordinates and
  // non-zero directions.
  Frame placement_frame(const Handle(StepRepr_RepresentationItem) & item, double scale,
                        const std::string& what) const {
    const auto p = Handle(StepGeom_Axis2Placement3d)::DownCast(item);
    if (p.IsNull())
      bad_placement(
          item, what,
          item.IsNull() ? "is given" : "is a " + step_type(item) + ", not an AXIS2_PLACEMENT_3D");
    used(p, p, "");
    // The coordinates of a point or direction, read one by one (OCCT's array of a point's
    // coordinates takes only three).
    const auto vec = [&](const Handle(Standard_Transient) & owner, Standard_Integer count,
                         const auto& value, const char* part) {
      if (count != 3)
        bad_placement(item, what,
                      std::string("is not a valid placement: its ") + part + " " + label_of(owner) +
                          " does not have three coordinates");
      used(owner, p, part);
      const Vec3 out{value(1), value(2), value(3)};
      for (double c : out)
        if (!std::isfinite(c))
          bad_placement(item, what,
                        std::string("is not a valid placement: its ") + part + " " +
                            label_of(owner) + " has a coordinate that is not a finite number");
      return out;
    };
    if (p->Location().IsNull())
      bad_placement(item, what, "is not a valid placement: it has no location");
    const Vec3 origin = vec(
        p->Location(), p->Location()->NbCoordinates(),
        [&](int i) { return p->Location()->CoordinatesValue(i); }, "location");
    Vec3 z{0, 0, 1}, x{1, 0, 0};
    if (p->HasAxis() && !p->Axis().IsNull())
      z = vec(
          p->Axis(), p->Axis()->NbDirectionRatios(),
          [&](int i) { return p->Axis()->DirectionRatiosValue(i); }, "axis");
    const double zn = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    if (!(zn > 1e-12) || !std::isfinite(zn))
      bad_placement(item, what, "is not a valid placement: its axis is zero");
    z = unit(z);
    if (p->HasRefDirection() && !p->RefDirection().IsNull())
      x = vec(
          p->RefDirection(), p->RefDirection()->NbDirectionRatios(),
          [&](int i) { return p->RefDirection()->DirectionRatiosValue(i); }, "ref_direction");
    else if (std::fabs(z[0]) > 1 - 1e-9)
      x = {0, 1, 0};
    const double along = x[0] * z[0] + x[1] * z[1] + x[2] * z[2];
    for (int i = 0; i < 3; ++i) x[i] -= along * z[i];
    const double xn = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    if (!(xn > 1e-9) || !std::isfinite(xn))
      bad_placement(item, what,
                    "is not a valid placement: its reference direction is zero or along its axis");
    Frame f;
    f.z = z;
    f.x = unit(x);
    f.y = {z[1] * f.x[2] - z[2] * f.x[1], z[2] * f.x[0] - z[0] * f.x[2],
           z[0] * f.x[1] - z[1] * f.x[0]};
    for (size_t i = 0; i < 3; ++i) f.origin[i] = origin[i] * scale;
    for (double c : f.origin)
      if (!std::isfinite(c))
        bad_placement(item, what, "is not a valid placement: its location is too far out");
    return f;
  }

  [[noreturn]] void bad_placement(const Handle(StepRepr_RepresentationItem) & item,
                                  const std::string& what, const std::string& fault) const {
    fail(what + ": " + (item.IsNull() ? std::string("no placement") : label_of(item)) + " " +
         fault);
  }

  // The placement that takes `from` (in its representation's units) onto `to`.
  Frame moved(const Handle(StepRepr_RepresentationItem) & from,
              const Handle(StepRepr_Representation) & from_rep,
              const Handle(StepRepr_RepresentationItem) & to,
              const Handle(StepRepr_Representation) & to_rep, const std::string& what) {
    const Frame a = placement_frame(from, millimetres_per_unit(from_rep), what);
    const Frame b = placement_frame(to, millimetres_per_unit(to_rep), what);
    return frame_of(multiply(rigid_inverse(to_matrix(a)), to_matrix(b)));
  }

  static bool holds(const std::vector<Handle(StepRepr_Representation)>& reps,
                    const Handle(StepRepr_Representation) & rep) {
    for (const auto& r : reps)
      if (r == rep) return true;
    return false;
  }

  // Where a use places its product in the parent: its CONTEXT_DEPENDENT_SHAPE_REPRESENTATION's
  // ITEM_DEFINED_TRANSFORMATION (rep_1 the child's representation, or reversed when rep_1 is the
  // parent's), or the MAPPED_ITEM of the child's representation in the other one. A use without
  // a placement is placed at the parent's origin, with a warning.
  Frame placement_of(const Use& use, const std::string& what) {
    const Product& parent = products_[use.parent];
    const Product& child = products_[use.child];
    if (use.placement.IsNull()) {
      warn(what + (child.reps.empty() ? " is a product without a shape" : " has no placement") +
           "; it is placed at the origin of its parent");
      return Frame{};
    }
    const Handle(StepRepr_RepresentationRelationship) relation =
        used(use.placement->RepresentationRelation(), use.placement, "representation_relation");
    const Handle(StepRepr_Representation) rep1 = used(relation->Rep1(), relation, "rep_1");
    const Handle(StepRepr_Representation) rep2 = used(relation->Rep2(), relation, "rep_2");
    const bool reversed = holds(parent.reps, rep1) && !holds(parent.reps, rep2);
    const std::string where = what + ", placed by " + label_of(relation);
    if (const auto with =
            Handle(StepRepr_RepresentationRelationshipWithTransformation)::DownCast(relation);
        !with.IsNull()) {
      const Handle(StepRepr_ItemDefinedTransformation) idt =
          with->TransformationOperator().ItemDefinedTransformation();
      if (idt.IsNull()) fail(where + ": only an ITEM_DEFINED_TRANSFORMATION places an instance");
      used(idt, relation, "transformation");
      return reversed ? moved(idt->TransformItem2(), rep2, idt->TransformItem1(), rep1, where)
                      : moved(idt->TransformItem1(), rep1, idt->TransformItem2(), rep2, where);
    }
    // Mapped items of the child's representation in the other one: the n-th use of the child
    // through this pair takes the n-th mapped item.
    const Handle(StepRepr_Representation)& inner = reversed ? rep2 : rep1;
    const Handle(StepRepr_Representation)& outer = reversed ? rep1 : rep2;
    const size_t nth = mapped_uses_[{outer.get(), inner.get()}]++;
    size_t seen = 0;
    for (Standard_Integer i = 1; !outer->Items().IsNull() && i <= outer->NbItems(); ++i) {
      const auto mapped = Handle(StepRepr_MappedItem)::DownCast(outer->ItemsValue(i));
      if (mapped.IsNull() || mapped->MappingSource().IsNull() ||
          mapped->MappingSource()->MappedRepresentation() != inner || seen++ != nth)
        continue;
      used(mapped, outer, "");
      const Handle(StepRepr_RepresentationMap) map =
          used(mapped->MappingSource(), mapped, "mapping_source");
      return moved(map->MappingOrigin(), inner, mapped->MappingTarget(), outer,
                   where + " through " + label_of(mapped));
    }
    warn(where + " has no transformation; it is placed at the origin of its parent");
    return Frame{};
  }

  // ORIGIN, then every named placement among the items of the product's shape representations
  // that places no instance.
  void add_csys(Model& model, const Product& product) {
    if (model.csys.empty()) model.csys.push_back({"ORIGIN", u"ORIGIN", Frame{}, 1});
    for (const auto& rep : product.reps) {
      if (rep->Items().IsNull()) continue;
      double scale = 0;
      for (Standard_Integer i = 1; i <= rep->NbItems(); ++i) {
        const auto placement = Handle(StepGeom_Axis2Placement3d)::DownCast(rep->ItemsValue(i));
        if (placement.IsNull() || placing_.count(placement.get())) continue;
        const std::string raw = text_of(placement->Name());
        if (raw.empty()) continue;
        const std::string where = "placement " + label_of(placement);
        Csys cs;
        cs.name = holdable(raw, where, "csys name");
        cs.wide_name = checked_name(cs.name, file_ + ": " + where, "csys name", kCsysNameForbidden);
        bool taken = false;
        for (const Csys& other : model.csys) taken = taken || other.name == cs.name;
        if (taken) {
          warn(where + ": \"" + model.name + "\" has a csys \"" + cs.name +
               "\" already; this one is left out");
          continue;
        }
        if (scale == 0) scale = millimetres_per_unit(rep);
        cs.frame = placement_frame(placement, scale, where);
        cs.id = static_cast<int>(model.csys.size()) + 1;
        model.csys.push_back(std::move(cs));
      }
    }
  }

  // The model of a product as its first use meets it: its name (made unique), its csys, and
  // the contents of the file it refers to.
  int open_model(size_t p, int into) {
    Product& product = products_[p];
    const std::string where = "product definition " + label_of(product.definition);
    const std::string raw = product_name(product);
    Assembly& assembly = run_.assembly;
    if (into < 0) {
      if (raw.empty()) fail(where + ": the product has neither a name nor an id");
      const std::string cut = holdable(raw, where, "model name");
      checked_name(cut, file_ + ": " + where, "model name", kModelNameForbidden);
      bool renamed = false;
      product.name = run_.names.claim(cut, renamed);
      if (renamed)
        warn(where + ": another product is named \"" + cut + "\" already; this one is named \"" +
             product.name + "\"");
      into = static_cast<int>(assembly.models.size());
      assembly.models.emplace_back();
      Model& model = assembly.models.back();
      model.name = product.name;
      model.wide_name = *utf8_to_wide(product.name);
    } else {
      product.name = assembly.models[static_cast<size_t>(into)].name;
    }
    product.model = into;
    add_csys(assembly.models[static_cast<size_t>(into)], product);
    if (!product.external.empty()) read_external(product, into, where);
    if (!product.uses.empty())
      assembly.models[static_cast<size_t>(into)].type = ModelType::assembly;
    return into;
  }

  // The contents of a product written in a file of its own, found beside this file (or where an
  // absolute name says), read by a reader of their own into this product's model.
  void read_external(const Product& product, int into, const std::string& where) {
    namespace fs = std::filesystem;
    const fs::path named = path_from_utf8(product.external);
    const fs::path path = named.is_absolute() ? named : path_from_utf8(file_).parent_path() / named;
    const std::string file = path_to_utf8(path.lexically_normal());
    if (run_.open_files.size() > static_cast<size_t>(kMaxDepth))
      fail(where + ": external references are nested more than " + std::to_string(kMaxDepth) +
           " files deep");
    for (const std::string& open : run_.open_files)
      if (open == file) fail(where + ": the external reference \"" + file + "\" refers back to it");
    run_.open_files.push_back(file);
    try {
      StepFileReader(file, run_).read(into);
    } catch (const ModelError& e) {
      fail(where + ": the external reference \"" + product.external + "\" cannot be read (" +
           e.what() + ")");
    }
    run_.open_files.pop_back();
  }

  // Walks the uses from the top product depth first, without recursion: each product becomes a
  // model once, however often it is used; a product met again on its own way down is a cycle.
  int walk(size_t top, int into) {
    for (const Product& product : products_)
      run_.names.reserve(cut_name(product_name(product, false)));
    Assembly& assembly = run_.assembly;
    struct Step {
      size_t product, next_use;
    };
    std::vector<Step> path{{top, 0}};
    const int root = open_model(top, into);
    products_[top].open = true;
    while (!path.empty()) {
      Step& step = path.back();
      const Product& parent = products_[step.product];
      if (step.next_use == parent.uses.size()) {
        products_[step.product].open = false;
        path.pop_back();
        continue;
      }
      const Use& use = uses_[parent.uses[step.next_use++]];
      Product& child = products_[use.child];
      const std::string what = "instance " + label_of(use.usage) + " of \"" + product_name(child) +
                               "\" in \"" + parent.name + "\"";
      if (child.open) {
        std::string chain;
        for (auto it = path.begin(); it != path.end(); ++it)
          if (!chain.empty() || it->product == use.child)
            chain += "\"" + products_[it->product].name + "\" -> ";
        fail(what + ": component cycle: " + chain + "\"" + child.name + "\"");
      }
      if (path.size() > static_cast<size_t>(kMaxDepth))
        fail(what + ": components are nested more than " + std::to_string(kMaxDepth) +
             " levels deep");
      Component component;
      component.placement = placement_of(use, what);
      const size_t parent_model = static_cast<size_t>(parent.model);
      if (child.model < 0) {
        open_model(use.child, -1);
        child.open = true;
        path.push_back({use.child, 0});
      }
      component.model = child.model;
      Model& owner = assembly.models[parent_model];
      component.feature_id = owner.feature_count() + 1;
      owner.components.push_back(component);
      run_.instances.emplace(std::make_pair(parent_model, owner.components.size() - 1),
                             file_ + ": instance " + label_of(use.usage));
    }
    return root;
  }

  const std::string file_;
  Run& run_;
  Handle(StepData_StepModel) model_;
  std::vector<Product> products_;
  std::unordered_map<Entity, size_t> product_of_;
  std::vector<Use> uses_;
  std::unordered_set<Entity> placing_;                       // placements that place instances
  std::unordered_map<Entity, double> unit_of_;               // millimetres per unit, by context
  std::map<std::pair<Entity, Entity>, size_t> mapped_uses_;  // (outer, inner) -> uses so far
};

}  // namespace

Assembly load_step_assembly(const std::string& file, std::ostream& warnings) {
  try {
    Run run{warnings, {}, {}, {path_to_utf8(path_from_utf8(file).lexically_normal())}, {}};
    run.assembly.top = StepFileReader(file, run).read(-1);
    check_nesting(run.assembly, [&](int m, size_t i) {
      return run.instances[{static_cast<size_t>(m), i}] + " in \"" +
             run.assembly.models[static_cast<size_t>(m)].name + "\"";
    });
    return std::move(run.assembly);
  } catch (const Standard_Failure& e) {  // OCCT's own exceptions, on data it cannot take
    throw ModelError(file + ": malformed STEP data (" + std::string(e.GetMessageString()) + ")");
  }
}

}  // namespace mirax
