// An in-process stand-in for the CAD host: a sorted host function table whose functions answer
// from an assembly held in memory, with scripted replies, picks and failures.
#pragma once
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "binding/host_records.h"

namespace fake {

struct Csys {
  std::string name;
  int id = 0;
  KelCsysData data{};
};

struct Model;

// A feature of a model: a component when `child` is set.
struct Feature {
  KelFeature item{};  // first member: the handle the host hands out
  int type = 0;
  Model* child = nullptr;
  Transform placement{};  // the component's coordinates into its parent's
};

struct Model {
  explicit Model(std::string model_name = {}, int model_type = KEL_MDL_PART)
      : name(std::move(model_name)), type(model_type) {}
  std::string name;
  int type = KEL_MDL_PART;
  std::vector<std::unique_ptr<Csys>> csys;
  std::vector<std::unique_ptr<Feature>> features;

  Csys& add_csys(const std::string& csys_name, const Vector3 origin, const Vector3 x = nullptr,
                 const Vector3 y = nullptr, const Vector3 z = nullptr);
  // Adds a component of `child` placed by a rotation about z (quarter turns) and a shift.
  Feature& add_component(Model& child, int feature_id, int quarter_turns, const Vector3 shift);
  // Adds a feature that is not a component.
  void add_other_feature(int feature_id, int type);
};

// One scripted run of the command.
struct Script {
  int read_status = 0;    // status of the name prompt
  std::u16string reply;   // typed name
  int select_status = 0;  // status of the pick
  int select_count = 1;
  Model* pick_owner = nullptr;  // the picked csys: its owner model, id and component path
  int pick_csys_id = 0;
  std::vector<int> pick_path;
  // Calls that fail: "KelX" for every call, "KelX:who" for one model or csys name.
  std::set<std::string> failing;
};

struct Host {
  Model* current = nullptr;
  Script script;
  std::vector<std::string> messages;       // keys shown, in order
  std::vector<std::string> registrations;  // "menu file menus_dir" of each menu registration
  KelButtonActionFn button = nullptr;
  std::string button_name;
  int open_data = 0;    // geometry data records not yet released
  int reply_limit = 0;  // the maximum length the command asked for
};

// The host the fake functions answer from.
Host& host();
// Does the hand-shake once per process, with this fake's table.
void handshake();
// Runs the bound button action, as a button press would.
int press_button();

// Path ids from a top model to a csys's component: the placement product, bottom first.
void component_transform(const Model& top, const std::vector<int>& ids, Transform out);

}  // namespace fake
