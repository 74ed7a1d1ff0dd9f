// The model file loader and the reference paths of mirax.
#include <gtest/gtest.h>

#include <string>

#include "host/encoding.h"
#include "host/model.h"

namespace mirax {
namespace {

std::string frame(const char* origin = "[0, 0, 0]") {
  return std::string("\"origin\": ") + origin + ", \"x\": [1, 0, 0], \"y\": [0, 1, 0]";
}

std::string component(const char* model) {
  return std::string("{ \"model\": \"") + model + "\", " + frame() + " }";
}

std::string part(const char* name, const char* csys) {
  return std::string("\"") + name + "\": { \"type\": \"part\", \"csys\": [ { \"name\": \"" + csys +
         "\", " + frame() + " } ] }";
}

// TOP { csys TOP_CS; BOLT, NUT, BOLT, SUB { BOLT } }, parts with one csys each.
const std::string kSample =
    "{ \"top\": \"TOP\", \"models\": {"
    "\"TOP\": { \"type\": \"assembly\", \"csys\": [ { \"name\": \"TOP_CS\", " +
    frame() + " } ], \"components\": [ " + component("BOLT") + ", " + component("NUT") + ", " +
    component("BOLT") + ", " + component("SUB") + " ] }, " +
    "\"SUB\": { \"type\": \"assembly\", \"components\": [ " + component("BOLT") + " ] }, " +
    part("BOLT", "Head") + ", " + part("NUT", "Seat") + " } }";

TEST(ModelFile, FeaturesAreCsysThenComponentsNumberedInFileOrder) {
  const Assembly a = parse_assembly(kSample);
  const Model& top = a.top_model();
  EXPECT_EQ(top.name, "TOP");
  ASSERT_EQ(top.csys.size(), 1u);
  EXPECT_EQ(top.csys[0].id, 1);
  ASSERT_EQ(top.components.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(top.components[i].feature_id, static_cast<int>(i) + 2);
  EXPECT_EQ(a.models[static_cast<size_t>(top.components[1].model)].name, "NUT");
  EXPECT_EQ(a.models[static_cast<size_t>(a.find("SUB"))].type, ModelType::assembly);
}

TEST(ModelFile, OmittedZIsXCrossYAndAGivenLeftHandedZIsKept) {
  const Assembly a = parse_assembly(R"({ "top": "P", "models": { "P": { "type": "part", "csys": [
      { "name": "A", "origin": [1, 2, 3], "x": [0, 1, 0], "y": [0, 0, 1] },
      { "name": "B", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0], "z": [0, 0, -1] } ] } } })");
  const auto& cs = a.top_model().csys;
  EXPECT_EQ(cs[0].frame.z, (Vec3{1, 0, 0}));
  EXPECT_EQ(cs[0].frame.origin, (Vec3{1, 2, 3}));
  EXPECT_EQ(cs[1].frame.z, (Vec3{0, 0, -1}));
}

TEST(ModelFile, NamesCountWideCharactersUpTo31) {
  // 31 kanji (3 UTF-8 bytes each) fit; the 32nd does not.
  std::string name;
  for (int i = 0; i < 31; ++i) name += "\xE6\xAD\xAF";
  const std::string ok =
      "{ \"top\": \"" + name + "\", \"models\": { \"" + name + "\": { \"type\": \"part\" } } }";
  EXPECT_EQ(parse_assembly(ok).top_model().wide_name.size(), 31u);
  const std::string long_name = name + "\xE6\xAD\xAF";
  const std::string bad = "{ \"top\": \"" + long_name + "\", \"models\": { \"" + long_name +
                          "\": { \"type\": \"part\" } } }";
  EXPECT_THROW(parse_assembly(bad), ModelError);
}

TEST(ModelFile, NestingOf25LevelsIsAcceptedAnd26Refused) {
  auto chain = [](int levels) {
    std::string models;
    for (int i = 0; i < levels; ++i)
      models += "\"M" + std::to_string(i) + "\": { \"type\": \"assembly\", \"components\": [ " +
                component(("M" + std::to_string(i + 1)).c_str()) + " ] }, ";
    models += "\"M" + std::to_string(levels) + "\": { \"type\": \"part\" }";
    return "{ \"top\": \"M0\", \"models\": { " + models + " } }";
  };
  EXPECT_NO_THROW(parse_assembly(chain(25)));
  try {
    parse_assembly(chain(26));
    FAIL() << "26 levels accepted";
  } catch (const ModelError& e) {
    EXPECT_NE(std::string(e.what()).find("nested more than 25 levels"), std::string::npos)
        << e.what();
  }
}

TEST(ModelFile, ErrorsNameTheJsonPath) {
  auto fault = [](const std::string& text) {
    try {
      parse_assembly(text);
    } catch (const ModelError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(fault(R"({ "top": "P", "models": { "P": { "type": "part", "csys": [
      { "name": "A", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1.01, 0] } ] } } })"),
            "/models/P/csys/0/y: axis is not of unit length (length 1.01)");
  EXPECT_EQ(fault(R"({ "top": "P", "models": { "P": { "type": "part", "csys": [
      { "name": "A", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0], "z": [0, 1, 0] } ] } } })"),
            "/models/P/csys/0: axes y, z are not orthogonal");
  EXPECT_EQ(fault(R"({ "top": "a/b", "models": { "a/b": { "type": "part" } } })"),
            "/models/a~1b: model name \"a/b\" holds \"/\" (U+002F), which a model name cannot "
            "hold (refused: control characters, \"/\", \"[\", \"]\")");
  EXPECT_EQ(
      fault("{ \"top\": \"P\", \"models\": { \"P\": { \"type\": \"part\", \"csys\": [ { \"name\": "
            "\"a\\tb\", \"origin\": [0, 0, 0], \"x\": [1, 0, 0], \"y\": [0, 1, 0] } ] } } }"),
      "/models/P/csys/0/name: csys name \"a\tb\" holds U+0009, which a csys name cannot hold "
      "(refused: control characters, \"/\")");
  // The chain of a cycle, from the model that contains itself back to it.
  EXPECT_EQ(fault(R"({ "top": "T", "models": { "T": { "type": "assembly", "components": [
      { "model": "A", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0] } ] },
      "A": { "type": "assembly", "components": [ { "model": "B", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0] } ] },
      "B": { "type": "assembly", "components": [ { "model": "C", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0] } ] },
      "C": { "type": "assembly", "components": [ { "model": "A", "origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0] } ] } } })"),
            "/models/C/components/0/model: component cycle: \"A\" -> \"B\" -> \"C\" -> \"A\"");
  EXPECT_EQ(fault(R"([1, 2])"), "/: expected an object");
  EXPECT_EQ(fault(R"({ "top": "P", "models": { "P": { "type": "part", "csys": {} } } })"),
            "/models/P/csys: expected an array");
}

TEST(ReferencePath, StepsNameComponentsByModelAndSiblingIndex) {
  const Assembly a = parse_assembly(kSample);
  const CsysLocation first = resolve_reference(a, "BOLT/Head");
  EXPECT_EQ(first.components, std::vector<int>{0});
  const CsysLocation second = resolve_reference(a, "BOLT[2]/Head");
  EXPECT_EQ(second.components, std::vector<int>{2});
  EXPECT_EQ(resolve_reference(a, "BOLT[1]/Head").components, std::vector<int>{0});
  const CsysLocation nested = resolve_reference(a, "SUB/BOLT/Head");
  EXPECT_EQ(nested.components, (std::vector<int>{3, 0}));
  const CsysLocation own = resolve_reference(a, "TOP_CS");
  EXPECT_TRUE(own.components.empty());
  EXPECT_EQ(own.model, a.top);

  EXPECT_THROW(resolve_reference(a, "BOLT[3]/Head"), ModelError);
  EXPECT_THROW(resolve_reference(a, "BOLT[0]/Head"), ModelError);
  EXPECT_THROW(resolve_reference(a, "BOLT[x]/Head"), ModelError);
  EXPECT_THROW(resolve_reference(a, "BOLT/head"), ModelError);  // csys names match exactly
  EXPECT_THROW(resolve_reference(a, "Head"), ModelError);
}

TEST(ReferencePath, PickableCsysPathsResolveBackToThemselves) {
  const Assembly a = parse_assembly(kSample);
  const auto all = pickable_csys(a);
  std::vector<std::string> paths;
  for (const auto& loc : all) {
    paths.push_back(loc.path);
    const CsysLocation again = resolve_reference(a, loc.path);
    EXPECT_EQ(again.components, loc.components) << loc.path;
    EXPECT_EQ(again.csys, loc.csys) << loc.path;
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"TOP_CS", "BOLT[1]/Head", "NUT/Seat", "BOLT[2]/Head",
                                             "SUB/BOLT/Head"}));
}

TEST(Encoding, Utf8RoundTripAndMalformedInput) {
  const std::string text =
      "A\xC3\xA9\xE6\xAD\xAF\xF0\x9F\x98\x80";  // A, e-acute, a kanji, an emoji
  const auto wide = utf8_to_wide(text);
  ASSERT_TRUE(wide);
  EXPECT_EQ(*wide, (std::u16string{u'A', 0xE9, 0x6B6F, 0xD83D, 0xDE00}));
  EXPECT_EQ(wide_to_utf8(*wide), text);
  EXPECT_FALSE(utf8_to_wide("\xC0\x80"));      // overlong
  EXPECT_FALSE(utf8_to_wide("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(utf8_to_wide("\xE6\xAD"));      // cut short
  EXPECT_EQ(wide_to_utf8(std::u16string{0xD800, u'a'}),
            "\xEF\xBF\xBD"
            "a");
}

// Every use of a model counts again: 1,000 uses of a part with 999 csys make the bound exactly.
TEST(ModelFile, ExpansionBoundIsExact) {
  const std::string frame = R"("origin": [0, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0] })";
  const auto model = [&](int csys) {
    std::string text = R"({ "top": "T", "models": { "T": { "type": "assembly", "components": [)";
    for (int i = 0; i < 1000; ++i)
      text += (i ? R"(, { "model": "P", )" : R"({ "model": "P", )") + frame;
    text += R"(] }, "P": { "type": "part", "csys": [)";
    for (int i = 0; i < csys; ++i)
      text += (i ? R"(, { "name": "C)" : R"({ "name": "C)") + std::to_string(i) + "\", " + frame;
    return text + "] } } }";
  };
  EXPECT_NO_THROW(parse_assembly(model(999)));
  EXPECT_THROW(parse_assembly(model(1000)), ModelError);
}

}  // namespace
}  // namespace mirax
