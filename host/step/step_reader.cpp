// The STEP reader: OCCT reads the file into an XCAF document, and the product structure found
// there (products, their instances and placements) becomes the model; the named placements of
// each product's shape representation and its length unit come from the STEP entities.
#include <IFSelect_ReturnStatus.hxx>
#include <Interface_Check.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPCAFControl_ExternFile.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPConstruct_UnitContext.hxx>
#include <StepBasic_Product.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepBasic_ProductDefinitionFormation.hxx>
#include <StepData_StepModel.hxx>
#include <StepGeom_Axis2Placement3d.hxx>
#include <StepGeom_CartesianPoint.hxx>
#include <StepGeom_Direction.hxx>
#include <StepGeom_GeomRepContextAndGlobUnitAssCtxAndGlobUncertaintyAssCtx.hxx>
#include <StepGeom_GeometricRepresentationContextAndGlobalUnitAssignedContext.hxx>
#include <StepRepr_GlobalUnitAssignedContext.hxx>
#include <StepRepr_ProductDefinitionShape.hxx>
#include <StepRepr_Representation.hxx>
#include <StepShape_ShapeDefinitionRepresentation.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDF_Tool.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <TopLoc_Location.hxx>
#include <TransferBRep.hxx>
#include <Transfer_TransientProcess.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XSControl_TransferReader.hxx>
#include <XSControl_WorkSession.hxx>
#include <cmath>
#include <fstream>
#include <map>
#include <ostream>
#include <set>

#include "host/encoding.h"
#include "host/step/model_file.h"

namespace mirax {

const bool kStepSupported = true;

namespace {

constexpr double kScaleTolerance = 1e-6;

std::string text_of(const Handle(TCollection_HAsciiString) & s) {
  return s.IsNull() ? std::string() : std::string(s->ToCString());
}

// A rigid placement from OCCT's transform: the images of the axes are the matrix columns.
Frame frame_of(const gp_Trsf& t) {
  Frame f;
  for (int r = 0; r < 3; ++r) {
    f.x[r] = t.Value(r + 1, 1);
    f.y[r] = t.Value(r + 1, 2);
    f.z[r] = t.Value(r + 1, 3);
  }
  const gp_XYZ o = t.TranslationPart();
  f.origin = {o.X(), o.Y(), o.Z()};
  return f;
}

Vec3 unit(Vec3 v) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (double& c : v) c /= n;
  return v;
}

// One product: its XCAF label and, when the product definition was found, its STEP entities.
struct ProductInfo {
  Handle(StepBasic_ProductDefinition) definition;
  std::vector<Handle(StepRepr_Representation)> representations;
};

class StepAssemblyReader {
 public:
  StepAssemblyReader(const std::string& file, std::ostream& warnings)
      : file_(file), warnings_(warnings) {}

  Assembly read() {
    {
      std::ifstream probe(path_from_utf8(file_), std::ios::binary);
      if (!probe) fail("cannot be read");
    }
    quiet_occt();
    STEPCAFControl_Reader reader;                           // defines the parameters set below
    Interface_Static::SetCVal("xstep.cascade.unit", "MM");  // every length in millimetres
    reader.SetNameMode(true);
    reader.SetColorMode(false);
    reader.SetLayerMode(false);
    reader.SetPropsMode(false);
    reader.SetGDTMode(false);
    reader.SetMatMode(false);
    reader.SetViewMode(false);
    reader.SetSHUOMode(false);
    if (reader.ReadFile(file_.c_str()) != IFSelect_RetDone) fail("not a readable STEP file");
    const Handle(XSControl_WorkSession) ws = reader.Reader().WS();
    model_ = Handle(StepData_StepModel)::DownCast(ws->Model());
    if (model_.IsNull()) fail("not a readable STEP file");
    check_syntax();
    Handle(TDocStd_Document) doc = new TDocStd_Document("XmlXCAF");
    if (!reader.Transfer(doc)) fail("holds no product that can be read");
    for (NCollection_DataMap<TCollection_AsciiString, Handle(STEPCAFControl_ExternFile)>::Iterator
             it(reader.ExternFiles());
         it.More(); it.Next())
      if (it.Value().IsNull() || it.Value()->GetLoadStatus() != IFSelect_RetDone)
        fail("the external reference \"" + std::string(it.Key().ToCString()) + "\" cannot be read");
    tool_ = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
    index_products(ws->TransferReader()->TransientProcess());

    TDF_LabelSequence tops;
    tool_->GetFreeShapes(tops);
    if (tops.Length() == 0) fail("holds no product");
    if (tops.Length() > 1) {
      std::string names;
      for (int i = 1; i <= tops.Length(); ++i)
        names += (i > 1 ? ", \"" : "\"") + name_of(tops(i)) + "\"";
      fail("holds " + std::to_string(tops.Length()) + " top-level products (" + names +
           "), not one assembly");
    }
    assembly_.top = add_model(tops(1), 0);
    check_nesting(assembly_, [&](int m, size_t i) {
      const Model& model = assembly_.models[static_cast<size_t>(m)];
      return file_ + ": \"" + model.name + "\", instance " + std::to_string(i + 1);
    });
    return std::move(assembly_);
  }

 private:
  [[noreturn]] void fail(const std::string& fault) const { throw ModelError(file_ + ": " + fault); }

  // OCCT reports on standard output by default, where the report's listing goes.
  static void quiet_occt() {
    Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
  }

  // A file cut short or otherwise malformed: OCCT reads what it can parse and notes the rest.
  void check_syntax() const {
    const Handle(Interface_Check)& global = model_->GlobalCheck();
    if (!global.IsNull() && global->HasFailed())
      fail("malformed STEP data: " +
           std::string(global->NbFails() > 0 ? global->CFail(1) : "syntax error"));
    for (Standard_Integer i = 1; i <= model_->NbEntities(); ++i) {
      if (model_->IsErrorEntity(i) || model_->IsRedefinedContent(i))
        fail("malformed STEP data at entity " + label_of(model_->Value(i)));
    }
    if (model_->NbEntities() == 0) fail("holds no STEP entity");
  }

  std::string label_of(const Handle(Standard_Transient) & entity) const {
    const Handle(TCollection_HAsciiString) label = model_->StringLabel(entity);
    return label.IsNull() ? std::string("?") : std::string(label->ToCString());
  }

  // Finds the XCAF label of each product definition, and the shape representations of each.
  void index_products(const Handle(Transfer_TransientProcess) & tp) {
    std::map<const Standard_Transient*, std::vector<Handle(StepRepr_Representation)>> reps;
    for (Standard_Integer i = 1; i <= model_->NbEntities(); ++i) {
      const auto sdr = Handle(StepShape_ShapeDefinitionRepresentation)::DownCast(model_->Value(i));
      if (sdr.IsNull() || sdr->Definition().IsNull()) continue;
      const auto pds =
          Handle(StepRepr_ProductDefinitionShape)::DownCast(sdr->Definition().PropertyDefinition());
      if (pds.IsNull() || sdr->UsedRepresentation().IsNull()) continue;
      const Handle(StepBasic_ProductDefinition) pd = pds->Definition().ProductDefinition();
      if (!pd.IsNull()) reps[pd.get()].push_back(sdr->UsedRepresentation());
    }
    for (Standard_Integer i = 1; i <= model_->NbEntities(); ++i) {
      const auto pd = Handle(StepBasic_ProductDefinition)::DownCast(model_->Value(i));
      if (pd.IsNull()) continue;
      ProductInfo info{pd, reps[pd.get()]};
      TopoDS_Shape shape = TransferBRep::ShapeResult(tp, pd);
      for (size_t r = 0; shape.IsNull() && r < info.representations.size(); ++r)
        shape = TransferBRep::ShapeResult(tp, info.representations[r]);
      TDF_Label label;
      if (shape.IsNull() || !tool_->Search(shape, label, false, false, false)) continue;
      products_.emplace(entry_of(label), std::move(info));
    }
  }

  static std::string entry_of(const TDF_Label& label) {
    TCollection_AsciiString entry;
    TDF_Tool::Entry(label, entry);
    return entry.ToCString();
  }

  const ProductInfo* product_of(const TDF_Label& label) const {
    const auto it = products_.find(entry_of(label));
    return it == products_.end() ? nullptr : &it->second;
  }

  // The product's name, its id when the name is empty; the XCAF name when no product was found.
  std::string name_of(const TDF_Label& label) const {
    if (const ProductInfo* info = product_of(label)) {
      const Handle(StepBasic_ProductDefinitionFormation) formation = info->definition->Formation();
      if (!formation.IsNull() && !formation->OfProduct().IsNull()) {
        const Handle(StepBasic_Product) product = formation->OfProduct();
        const std::string name = text_of(product->Name());
        return name.empty() ? text_of(product->Id()) : name;
      }
    }
    Handle(TDataStd_Name) name;
    if (label.FindAttribute(TDataStd_Name::GetID(), name))
      return TCollection_AsciiString(name->Get()).ToCString();  // as UTF-8
    return std::string();
  }

  std::string where_of(const TDF_Label& label) const {
    const ProductInfo* info = product_of(label);
    return info ? "product definition " + label_of(info->definition) : "product " + entry_of(label);
  }

  // A name the report cannot hold for its length is cut to 31 characters, with a warning; any
  // other fault of a name (empty, a character names cannot hold) refuses the file, as in JSON.
  std::string holdable(const std::string& name, const std::string& where, const char* what) {
    auto wide = utf8_to_wide(name);
    if (!wide || wide->size() <= kMaxNameUnits) return name;
    size_t keep = kMaxNameUnits;
    if ((*wide)[keep - 1] >= 0xD800 && (*wide)[keep - 1] < 0xDC00) --keep;  // a pair stays whole
    const std::string cut = wide_to_utf8(wide->substr(0, keep));
    warnings_ << "mirax: warning: " << file_ << ": " << where << ": " << what << " \"" << name
              << "\" cut to \"" << cut << "\"\n";
    return cut;
  }

  // The length unit of a representation in millimetres (1 where its context names none).
  static double millimetres_per_unit(const Handle(StepRepr_Representation) & rep) {
    const Handle(StepRepr_RepresentationContext) context = rep->ContextOfItems();
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
    if (units.IsNull()) return 1.0;
    STEPConstruct_UnitContext unit_context;
    unit_context.ComputeFactors(units);
    return unit_context.LengthFactor();
  }

  // A placement's frame as STEP builds its axes: z the axis (default z), x the reference
  // direction made normal to z (default x, or y when z lies along x), y = z × x.
  std::optional<Frame> placement_frame(const Handle(StepGeom_Axis2Placement3d) & p,
                                       double scale) const {
    auto vec = [](const Handle(TColStd_HArray1OfReal) & v) -> std::optional<Vec3> {
      if (v.IsNull() || v->Length() != 3) return std::nullopt;
      return Vec3{v->Value(v->Lower()), v->Value(v->Lower() + 1), v->Value(v->Lower() + 2)};
    };
    if (p->Location().IsNull()) return std::nullopt;
    const auto origin = vec(p->Location()->Coordinates());
    Vec3 z{0, 0, 1}, x{1, 0, 0};
    if (p->HasAxis()) {
      const auto axis = p->Axis().IsNull() ? std::nullopt : vec(p->Axis()->DirectionRatios());
      if (!axis) return std::nullopt;
      z = *axis;
    }
    const double zn = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    if (!origin || !(zn > 1e-12) || !std::isfinite(zn)) return std::nullopt;
    z = unit(z);
    if (p->HasRefDirection()) {
      const auto ref =
          p->RefDirection().IsNull() ? std::nullopt : vec(p->RefDirection()->DirectionRatios());
      if (!ref) return std::nullopt;
      x = *ref;
    } else if (std::fabs(z[0]) > 1 - 1e-9) {
      x = {0, 1, 0};
    }
    const double along = x[0] * z[0] + x[1] * z[1] + x[2] * z[2];
    for (int i = 0; i < 3; ++i) x[i] -= along * z[i];
    const double xn = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    if (!(xn > 1e-9) || !std::isfinite(xn)) return std::nullopt;
    Frame f;
    f.z = z;
    f.x = unit(x);
    f.y = {z[1] * f.x[2] - z[2] * f.x[1], z[2] * f.x[0] - z[0] * f.x[2],
           z[0] * f.x[1] - z[1] * f.x[0]};
    f.origin = {(*origin)[0] * scale, (*origin)[1] * scale, (*origin)[2] * scale};
    for (double c : f.origin)
      if (!std::isfinite(c)) return std::nullopt;
    return f;
  }

  // ORIGIN, then every named placement of the product's shape representations.
  void add_csys(Model& model, const TDF_Label& label) {
    model.csys.push_back({"ORIGIN", u"ORIGIN", Frame{}, 1});
    const ProductInfo* info = product_of(label);
    if (!info) return;
    for (const auto& rep : info->representations) {
      if (rep->Items().IsNull()) continue;
      const double scale = millimetres_per_unit(rep);
      for (Standard_Integer i = 1; i <= rep->NbItems(); ++i) {
        const auto placement = Handle(StepGeom_Axis2Placement3d)::DownCast(rep->ItemsValue(i));
        if (placement.IsNull()) continue;
        const std::string raw = text_of(placement->Name());
        if (raw.empty()) continue;
        const std::string where = "placement " + label_of(placement);
        Csys cs;
        cs.name = holdable(raw, where, "csys name");
        cs.wide_name = checked_name(cs.name, file_ + ": " + where, "csys name", kCsysNameForbidden);
        bool taken = false;
        for (const Csys& other : model.csys) taken = taken || other.name == cs.name;
        if (taken) {
          warnings_ << "mirax: warning: " << file_ << ": " << where << ": \"" << model.name
                    << "\" has a csys \"" << cs.name << "\" already; this one is left out\n";
          continue;
        }
        const auto frame = placement_frame(placement, scale);
        if (!frame) fail(where + ": not a valid placement (its point or directions)");
        cs.frame = *frame;
        cs.id = static_cast<int>(model.csys.size()) + 1;
        model.csys.push_back(std::move(cs));
      }
    }
  }

  // Adds the model of a product (once, however often it is used) and, depth first, the models
  // of its components; returns its index.
  int add_model(const TDF_Label& label, int depth) {
    const std::string entry = entry_of(label);
    if (const auto it = model_of_.find(entry); it != model_of_.end()) return it->second;
    if (depth > kMaxDepth)
      fail(where_of(label) + ": components are nested more than " + std::to_string(kMaxDepth) +
           " levels deep");
    const std::string where = where_of(label);
    Model model;
    const std::string raw = name_of(label);
    if (raw.empty()) fail(where + ": the product has neither a name nor an id");
    model.name = holdable(raw, where, "model name");
    model.wide_name =
        checked_name(model.name, file_ + ": " + where, "model name", kModelNameForbidden);
    if (const auto [it, fresh] = name_owner_.emplace(model.name, where); !fresh)
      fail(where + ": the product name \"" + model.name + "\" is also the name of " + it->second +
           "; model names must be unique");
    model.type = tool_->IsAssembly(label) ? ModelType::assembly : ModelType::part;
    add_csys(model, label);
    const int index = static_cast<int>(assembly_.models.size());
    model_of_.emplace(entry, index);
    assembly_.models.push_back(std::move(model));

    TDF_LabelSequence components;
    if (tool_->IsAssembly(label)) tool_->GetComponents(label, components);
    int next_id = static_cast<int>(assembly_.models[static_cast<size_t>(index)].csys.size()) + 1;
    for (int i = 1; i <= components.Length(); ++i) {
      TDF_Label referred;
      if (!tool_->GetReferredShape(components(i), referred))
        fail(where + ": instance " + std::to_string(i) + " refers to no product");
      const gp_Trsf placement = tool_->GetLocation(components(i)).Transformation();
      if (std::fabs(std::fabs(placement.ScaleFactor()) - 1.0) > kScaleTolerance)
        fail(where + ": instance " + std::to_string(i) + " is scaled by " +
             std::to_string(placement.ScaleFactor()) + "; only rigid placements are read");
      Component component;
      component.model = add_model(referred, depth + 1);
      component.placement = frame_of(placement);
      component.feature_id = next_id++;
      assembly_.models[static_cast<size_t>(index)].components.push_back(component);
    }
    return index;
  }

  const std::string& file_;
  std::ostream& warnings_;
  Handle(StepData_StepModel) model_;
  Handle(XCAFDoc_ShapeTool) tool_;
  std::map<std::string, ProductInfo> products_;    // by XCAF label entry
  std::map<std::string, int> model_of_;            // by XCAF label entry
  std::map<std::string, std::string> name_owner_;  // model name -> the product that has it
  Assembly assembly_;
};

}  // namespace

Assembly load_step_assembly(const std::string& file, std::ostream& warnings) {
  try {
    return StepAssemblyReader(file, warnings).read();
  } catch (const Standard_Failure& e) {  // OCCT's own exceptions, on data it cannot take
    throw ModelError(file + ": malformed STEP data (" + std::string(e.GetMessageString()) + ")");
  }
}

}  // namespace mirax
