// For tests that drive mirax's host in-process: an assembly built in code, and answers fixed in
// advance.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/answers.h"
#include "host/encoding.h"
#include "host/model.h"

namespace testsupport {

// A frame with the unit axes at `origin`.
inline mirax::Frame at(const mirax::Vec3& origin) {
  mirax::Frame f;
  f.origin = origin;
  return f;
}

// Builds an assembly in code where a JSON model is clumsy, or where the loader would refuse it
// (scaled frames, nesting deeper than a component path): nothing is checked. Ids follow the
// loader's rule: a model's csys count from 1, then its components, each in the order added.
class AssemblyBuilder {
 public:
  // Adds a model; the csys and components added next belong to it. The first model is the top.
  AssemblyBuilder& model(const std::string& name, mirax::ModelType type = mirax::ModelType::part) {
    mirax::Model m;
    m.name = name;
    m.wide_name = wide(name);
    m.type = type;
    assembly_.models.push_back(std::move(m));
    component_models_.emplace_back();
    return *this;
  }
  AssemblyBuilder& csys(const std::string& name, const mirax::Frame& frame = {}) {
    mirax::Csys c;
    c.name = name;
    c.wide_name = wide(name);
    c.frame = frame;
    assembly_.models.back().csys.push_back(std::move(c));
    return *this;
  }
  // A component of the model named `model`, which may be added later.
  AssemblyBuilder& component(const std::string& model, const mirax::Frame& placement = {}) {
    assembly_.models.back().components.push_back({-1, placement, 0});
    component_models_.back().push_back(model);
    return *this;
  }
  // Throws mirax::ModelError for a component of a model never added.
  mirax::Assembly build() const {
    mirax::Assembly a = assembly_;
    a.top = 0;
    for (size_t m = 0; m < a.models.size(); ++m) {
      int id = 0;
      for (mirax::Csys& c : a.models[m].csys) c.id = ++id;
      for (size_t i = 0; i < a.models[m].components.size(); ++i) {
        mirax::Component& c = a.models[m].components[i];
        c.feature_id = ++id;
        c.model = a.find(component_models_[m][i]);
        if (c.model < 0) throw mirax::ModelError("undefined model " + component_models_[m][i]);
      }
    }
    return a;
  }

 private:
  static std::u16string wide(const std::string& name) {
    return mirax::utf8_to_wide(name).value_or(u"?");
  }
  mirax::Assembly assembly_;
  std::vector<std::vector<std::string>> component_models_;
};

// Answers given in advance: no reply cancels the name prompt, no pick aborts the pick.
class FixedAnswers : public mirax::Answers {
 public:
  std::optional<std::u16string> reply;
  std::optional<mirax::CsysLocation> picked;
  std::optional<std::u16string> name() override { return reply; }
  std::optional<mirax::CsysLocation> pick(const mirax::Assembly&) override { return picked; }
};

}  // namespace testsupport
