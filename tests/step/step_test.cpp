// mirax on STEP assemblies written here: every report row against the placement OCCT itself
// composes for that instance (XCAF components, TopLoc_Location products) and against the
// writer's own composition, the named placements against the frames written, the inch file in
// millimetres, the JSON export giving the same report, bad files refused with status 2, and one
// table of the styles and faults of files as CAD systems write them.
#include <gtest/gtest.h>

#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDocStd_Document.hxx>
#include <TopLoc_Location.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/wait.h>

#include "child_output.h"
#include "step_writer.h"

namespace {

namespace fs = std::filesystem;
using stepgen::Placing;
using stepgen::Writer;

// TOP { top_mark; SUB1 twice, PLATE } SUB1 { PIN, SUB2 } SUB2 { SUB3 } SUB3 { PIN twice }:
// pins four levels down, turned about x, y, z and oblique axes; PIN has a named hole, PLATE a
// name longer than a report name.
void write_assembly(const std::string& file, bool inch) {
  Writer w(inch);
  const int pin = w.product("PIN", {{"hole", stepgen::turned({1, 0, 0}, 30, {5, 0, 2})}});
  const int plate = w.product("PLATE_WITH_A_NAME_OF_FORTY_CHARACTERS___", {});
  const int sub3 = w.product("SUB3", {});
  w.use(sub3, pin, stepgen::turned({0, 0, 1}, 90, {1, 2, 3}));
  w.use(sub3, pin, stepgen::turned({0, 1, 0}, -40, {-4, 0, 7}));
  const int sub2 = w.product("SUB2", {});
  w.use(sub2, sub3, stepgen::turned({1, 1, 1}, 120, {0, 9, 0}));
  const int sub1 = w.product("SUB1", {});
  w.use(sub1, pin, stepgen::turned({1, 0, 0}, 15, {2, 2, 2}));
  w.use(sub1, sub2, stepgen::turned({2, -1, 3}, 77, {10, -3, 5}));
  const int top = w.product("TOP", {{"top_mark", stepgen::turned({0, 1, 1}, 10, {1, 1, 1})}});
  w.use(top, sub1, stepgen::turned({1, 0, 0}, 45, {100, 0, 0}));
  w.use(top, sub1, stepgen::turned({0, 1, 0}, 200, {0, -50, 25}));
  w.use(top, plate, stepgen::turned({0, 0, 1}, -30, {3, 4, 5}));
  w.save(file);
}

struct MiraxRun {
  int status = -1;
  std::string out, err;
};

MiraxRun mirax(const std::string& args) {
  const std::string command =
      std::string("\"") + KEL_MIRAX + "\" " + args + " > out.txt 2> err.txt";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testsupport::read_file("out.txt"),
          testsupport::read_file("err.txt")};
}

// The rows of the report: name and the values (none for a row of N/A).
std::vector<std::pair<std::string, std::vector<double>>> report_rows() {
  std::ifstream in("csyspos.txt");
  std::vector<std::pair<std::string, std::vector<double>>> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    std::istringstream fields(line);
    std::string level, name, token;
    fields >> level >> name;  // a name may hold blanks: it ends before the kind
    while (fields >> token && token != "PART" && token != "ASSEMBLY") name += " " + token;
    rows.emplace_back(name, std::vector<double>{});
    while (fields >> token)
      if (token != "N/A") rows.back().second.push_back(std::stod(token));
  }
  return rows;
}

// OCCT's placement of every instance in the top assembly, depth first as the report lists them.
void compose(const Handle(XCAFDoc_ShapeTool) & tool, const TDF_Label& label,
             const TopLoc_Location& above, std::vector<gp_Trsf>& out) {
  TDF_LabelSequence components;
  tool->GetComponents(label, components);
  for (int i = 1; i <= components.Length(); ++i) {
    TDF_Label referred;
    ASSERT_TRUE(tool->GetReferredShape(components(i), referred));
    const TopLoc_Location placed = above * tool->GetLocation(components(i));
    out.push_back(placed.Transformation());
    compose(tool, referred, placed, out);
  }
}

std::vector<gp_Trsf> occt_instances(const std::string& file) {
  Handle(TDocStd_Document) doc = new TDocStd_Document("XmlXCAF");
  STEPCAFControl_Reader reader;
  EXPECT_EQ(reader.ReadFile(file.c_str()), IFSelect_RetDone);
  EXPECT_TRUE(reader.Transfer(doc));
  const auto tool = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  TDF_LabelSequence tops;
  tool->GetFreeShapes(tops);
  std::vector<gp_Trsf> out;
  if (tops.Length() == 1) compose(tool, tops(1), TopLoc_Location(), out);
  return out;
}

gp_Trsf as_trsf(const stepgen::Frame& f) {
  gp_Trsf t;
  t.SetValues(f.x[0], f.y[0], f.z[0], f.origin[0], f.x[1], f.y[1], f.z[1], f.origin[1], f.x[2],
              f.y[2], f.z[2], f.origin[2]);
  return t;
}

// Report order: the origin, then the rows of the matrix whose columns are the frame's axes.
void expect_row(const std::vector<double>& row, const gp_Trsf& t, const std::string& what) {
  ASSERT_EQ(row.size(), 12u) << what;
  const gp_XYZ o = t.TranslationPart();
  const double want[12] = {o.X(),         o.Y(),         o.Z(),         t.Value(1, 1),
                           t.Value(1, 2), t.Value(1, 3), t.Value(2, 1), t.Value(2, 2),
                           t.Value(2, 3), t.Value(3, 1), t.Value(3, 2), t.Value(3, 3)};
  for (int k = 0; k < 12; ++k) EXPECT_NEAR(row[static_cast<size_t>(k)], want[k], 0.0015) << what;
}

TEST(StepAssembly, EveryInstanceWhereOcctPlacesItInMillimetresAndInches) {
  Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
  for (const bool inch : {false, true}) {
    SCOPED_TRACE(inch ? "inch" : "mm");
    const std::string file = inch ? "assembly.STP" : "assembly.step";
    write_assembly(file, inch);
    const auto instances = occt_instances(file);
    ASSERT_EQ(instances.size(), 13u);  // 2 x (SUB1, PIN, SUB2, SUB3, PIN, PIN) + PLATE

    MiraxRun run = mirax("--model " + file + " --name ORIGIN --no-reference");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("cut to \"PLATE_WITH_A_NAME_OF_FORTY_CHAR\""), std::string::npos);
    const auto rows = report_rows();
    ASSERT_EQ(rows.size(), instances.size());
    for (size_t i = 0; i < rows.size(); ++i)
      expect_row(rows[i].second, instances[i], rows[i].first);
    const char* order[] = {"SUB1", "PIN", "SUB2", "SUB3", "PIN", "PIN"};  // depth first, twice
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(rows[i].first, order[i % 6]);
    EXPECT_EQ(rows[12].first, "PLATE_WITH_A_NAME_OF_FORTY_CHAR");
    const std::string step_report = testsupport::read_file("csyspos.txt");

    // The hole of each pin: the pin's placement times the frame written, in millimetres.
    ASSERT_EQ(mirax("--model " + file + " --name hole --no-reference").status, 0);
    const auto holes = report_rows();
    ASSERT_EQ(holes.size(), instances.size());
    gp_Trsf hole = as_trsf(stepgen::turned({1, 0, 0}, 30, {5, 0, 2}));
    hole.SetTranslationPart(hole.TranslationPart() * (inch ? 25.4 : 1.0));
    for (size_t i = 0; i < holes.size(); ++i)
      if (holes[i].first == "PIN")
        expect_row(holes[i].second, instances[i] * hole, "hole " + std::to_string(i));
      else
        EXPECT_TRUE(holes[i].second.empty()) << holes[i].first;

    // The export runs to the same report.
    ASSERT_EQ(mirax("--model " + file + " --export-model converted.json").status, 0);
    ASSERT_EQ(mirax("--model converted.json --name ORIGIN --no-reference").status, 0);
    EXPECT_EQ(testsupport::read_file("csyspos.txt"), step_report);
  }
}

TEST(StepAssembly, BadFilesAreRefusedWithStatusTwo) {
  Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
  write_assembly("good.step", false);
  const std::string good = testsupport::read_file("good.step");
  // An assembly whose part lies in a file of its own, which is then removed.
  {
    Handle(TDocStd_Document) doc = new TDocStd_Document("XmlXCAF");
    STEPCAFControl_Reader reader;
    ASSERT_EQ(reader.ReadFile("good.step"), IFSelect_RetDone);
    ASSERT_TRUE(reader.Transfer(doc));
    STEPCAFControl_Writer writer;
    ASSERT_TRUE(writer.Transfer(doc, STEPControl_AsIs, "ext_"));
    ASSERT_EQ(writer.Write("external.step"), IFSelect_RetDone);
    ASSERT_TRUE(fs::remove("ext_PIN.stp"));
  }
  Writer two(false);
  two.product("ONE", {});
  two.product("TWO", {});
  two.save("two_tops.step");
  Writer none(false);
  none.save("no_product.step");
  // Not bad: a single part is a one-model assembly, its named placement a csys beside ORIGIN.
  Writer single(false);
  single.product("ALONE", {{"mark", stepgen::turned({0, 0, 1}, 10, {1, 2, 3})}});
  single.save("single.step");
  ASSERT_EQ(mirax("--model single.step --export-model single.json").status, 0);
  const std::string exported = testsupport::read_file("single.json");
  for (const char* text : {"\"top\": \"ALONE\"", "\"ORIGIN\"", "\"mark\"", "\"type\": \"part\""})
    EXPECT_NE(exported.find(text), std::string::npos) << text << " in " << exported;
  std::ofstream("not_step.stp") << "{ \"top\": \"A\" }\n";
  std::ofstream("truncated.step") << good.substr(0, good.size() * 2 / 3);
  std::ofstream("dangling.step") << std::string(good).replace(good.find("#3)"), 3, "#9999)");
  const std::pair<const char*, const char*> cases[] = {
      {"not_step.stp", "not a readable STEP file"},
      {"truncated.step", "not a readable STEP file"},
      {"dangling.step", "malformed STEP data"},
      {"no_product.step", "holds no product"},
      {"two_tops.step", "holds 2 top-level products (\"ONE\", \"TWO\")"},
      {"external.step", "the external reference \"ext_PIN.stp\" cannot be read"},
      {"missing.step", "missing.step: cannot be read"}};
  for (const auto& [file, message] : cases) {
    const MiraxRun run = mirax(std::string("--model ") + file + " --name ORIGIN --no-reference");
    EXPECT_EQ(run.status, 2) << file;
    EXPECT_NE(run.err.find(message), std::string::npos) << file << ": " << run.err;
  }
}

}  // namespace

namespace {

gp_Trsf trsf_of(const stepgen::Frame& f) { return as_trsf(f); }

struct Case {
  const char* what;
  std::function<int(Writer&)> build;  // the assembly, written into the writer; its top
  int status;
  const char* message;               // in the standard error; "": nothing is said there
  bool occt;                         // OCCT reads the file to the same placements
  const char* csys = "ORIGIN";       // a csys listed besides ORIGIN
  std::vector<std::string> names{};  // the rows' names, where the products' names are not
  const char* file = nullptr;        // the file mirax reads, where `build` wrote another
};

const stepgen::Frame kA = stepgen::turned({1, 2, 3}, 35, {10, -20, 30});
const stepgen::Frame kB = stepgen::turned({0, 1, 0}, -70, {-4, 5, 6});
const stepgen::Frame kC = stepgen::turned({1, 0, 0}, 120, {7, 0, -1});

// TOP { SUB at kA, SUB at kB } SUB { PIN at kC }, PIN with a csys "hole", SUB with "DATUM".
int nested(Writer& w, const stepgen::UseStyle& style = {}) {
  const int pin = w.product("PIN", {{"hole", kB}});
  const int sub = w.product("SUB", {{"DATUM", kC}});
  w.use(sub, pin, kC, style);
  const int top = w.product("TOP", {});
  w.use(top, sub, kA);
  w.use(top, sub, kB);
  return top;
}

const Case kCases[] = {
    {"unset names, faulty entities the structure does not use",
     [](Writer& w) {
       w.add("DESCRIPTIVE_REPRESENTATION_ITEM('only one')");
       w.add("SURFACE_STYLE_RENDERING($,#1)");
       const int pin = w.product("PIN", {}, {.unset_names = true});
       const int top = w.product("TOP", {});
       w.use(top, pin, kA, {.unset_names = true});
       return top;
     },
     0, "", true},
    {"reversed relationships, an inch part in a millimetre assembly",
     [](Writer& w) {
       const int pin = w.product("PIN", {{"hole", kC}}, {.inch = true});
       const int sub = w.product("SUB", {});
       w.use(sub, pin, kA, {.placing = Placing::reversed});
       w.use(sub, pin, kB);
       const int top = w.product("TOP", {});
       w.use(top, sub, kB, {.placing = Placing::reversed});
       w.use(top, pin, kC);
       return top;
     },
     0, "", true, "hole"},
    {"mapped items",
     [](Writer& w) {
       const int pin = w.product("PIN", {{"hole", kC}});
       const int sub = w.product("SUB", {});
       w.use(sub, pin, kB, {.placing = Placing::mapped});
       w.use(sub, pin, kC, {.placing = Placing::mapped});
       const int top = w.product("TOP", {});
       w.use(top, sub, kA, {.placing = Placing::mapped});
       return top;
     },
     0, "", false, "hole"},
    {"native documents listed by a product definition",
     [](Writer& w) {
       const int pin = w.product("PIN", {}, {.documents = "Driving Pulley Shaft.CATPart"});
       const int top = w.product("TOP", {}, {.documents = "Pulley.CATProduct"});
       w.use(top, pin, kA);
       return top;
     },
     0, "", true},
    {"external references relative to the referring file",
     [](Writer& w) {
       const int top = nested(w);
       Writer part(false), sub(false), split(false);
       part.product("PIN", {{"hole", kB}});
       part.save("models/sub/pin.step");
       const int pin = sub.product("PIN", {}, {.external = "pin.step"});
       sub.use(sub.product("SUB", {{"DATUM", kC}}), pin, kC);
       sub.save("models/sub/sub.step");
       const int stub = split.product("SUB", {}, {.external = "sub/sub.step"});
       const int split_top = split.product("TOP", {});
       split.use(split_top, stub, kA);
       split.use(split_top, stub, kB);
       split.save("models/split.step");
       return top;
     },
     0,
     "",
     false,
     "hole",
     {},
     "models/split.step"},
    {"a sub-assembly's named csys", [](Writer& w) { return nested(w); }, 0, "", true, "DATUM"},
    {"sub-shapes are no components",
     [](Writer& w) {
       const int pin = w.product("PIN", {}, {.sub_shape = true});
       const int top = w.product("TOP", {}, {.sub_shape = true});
       w.use(top, pin, kA);
       return top;
     },
     0, "", true},
    {"names given twice, and alike once cut",
     [](Writer& w) {
       const std::string long_name(36, 'N');
       const int top = w.product("Part 1", {});
       w.use(top, w.product("Part 1", {}), kA);
       w.use(top, w.product("Default", {}), kB);
       w.use(top, w.product("Default", {}), kC);
       w.use(top, w.product(long_name + "1", {}), kA);
       w.use(top, w.product(long_name + "2", {}), kB);
       return top;
     },
     0,
     "another product is named \"Default\" already; this one is named \"Default~2\"",
     true,
     "ORIGIN",
     {"Part 1~2", "Default", "Default~2", std::string(31, 'N'), std::string(29, 'N') + "~2"}},
    {"an instance without a placement",
     [](Writer& w) { return nested(w, {.placing = Placing::none}); }, 0, "has no placement", false},
    {"a placeholder product without a shape",
     [](Writer& w) {
       const int ghost = w.product("GHOST", {}, {.shape = false});
       const int top = w.product("TOP", {});
       w.use(top, ghost, kA);
       w.use(top, w.product("PIN", {}), kB);
       return top;
     },
     0, "is a product without a shape; it is placed at the origin of its parent", false},
    {"a cycle",
     [](Writer& w) {
       const int a = w.product("A", {}), b = w.product("B", {});
       w.use(a, b, kA);
       w.use(b, a, kB);
       return a;
     },
     2, "component cycle: \"A\" -> \"B\" -> \"A\"", false},
    {"a product used by itself",
     [](Writer& w) {
       const int a = w.product("A", {});
       w.use(a, a, kA);
       return a;
     },
     2, "component cycle: \"A\" -> \"A\"", false},
    {"10,000 levels",
     [](Writer& w) {
       int above = w.product("L0", {});
       const int top = above;
       for (int i = 1; i < 10000; ++i) {
         const int next = w.product("L" + std::to_string(i), {});
         w.use(above, next, kA);
         above = next;
       }
       return top;
     },
     2, "components are nested more than 25 levels deep", false},
    {"a 2-D point placing an instance",
     [](Writer& w) { return nested(w, {.location = "(1.,2.)"}); }, 2,
     "does not have three coordinates", false},
    {"a coordinate beyond a double",
     [](Writer& w) { return nested(w, {.location = "(1.E400,0.,0.)"}); }, 2,
     "has a coordinate that is not a finite number", false},
    {"a transformation pointing at a direction",
     [](Writer& w) { return nested(w, {.at_direction = true}); }, 2,
     "is a DIRECTION, not an AXIS2_PLACEMENT_3D", false},
};

TEST(StepAssembly, FilesAsCadSystemsWriteThem) {
  Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("models");
    fs::create_directories("models/sub");
    Writer w(false);
    const int top = c.build(w);
    w.save("models/case.step");
    const std::string file = c.file ? c.file : "models/case.step";
    const MiraxRun run = mirax("--model " + file + " --name ORIGIN --no-reference");
    ASSERT_EQ(run.status, c.status) << run.err;
    if (*c.message)
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    else
      EXPECT_EQ(run.err, "");
    if (c.status != 0) continue;
    // Every row where the writer placed it, under the name it has; and where OCCT places it.
    const auto want = w.placed(top, "ORIGIN");
    const auto rows = report_rows();
    ASSERT_EQ(rows.size(), want.size());
    const std::vector<gp_Trsf> occt =
        c.occt ? occt_instances("models/case.step") : std::vector<gp_Trsf>{};
    if (c.occt) {
      ASSERT_EQ(occt.size(), rows.size());
    }
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].first, c.names.empty() ? want[i].first : c.names[i]);
      expect_row(rows[i].second, trsf_of(*want[i].second), rows[i].first);
      if (c.occt) expect_row(rows[i].second, occt[i], "OCCT " + rows[i].first);
    }
    if (std::string(c.csys) == "ORIGIN") continue;
    ASSERT_EQ(mirax("--model " + file + " --name " + c.csys + " --no-reference").status, 0);
    const auto named = w.placed(top, c.csys);
    const auto csys_rows = report_rows();
    ASSERT_EQ(csys_rows.size(), named.size());
    for (size_t i = 0; i < named.size(); ++i)
      if (named[i].second)
        expect_row(csys_rows[i].second, trsf_of(*named[i].second), csys_rows[i].first);
      else
        EXPECT_TRUE(csys_rows[i].second.empty()) << csys_rows[i].first;
  }
}

}  // namespace
