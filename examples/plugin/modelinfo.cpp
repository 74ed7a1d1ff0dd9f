// A template plug-in, the smallest complete one: it adds the menu "info" with the button
// "-ModelInfo", whose command asks for a label, asks the host for the current model's name, kind
// and components, writes them to modelinfo.txt in the current directory and says so.
//
// The binding (csyslist::binding) gives the module its entry points and the hand-shake with the
// host; a plug-in defines the two hooks of binding/plugin_hooks.h and calls the host through the
// stubs of binding/host_stubs.h, each like a function returning a KelError.
#include <cstdio>

#include "binding/host_stubs.h"
#include "binding/local_calls.h"
#include "binding/plugin_hooks.h"

namespace {

constexpr int kReplyMax = 50;  // the longest label the host is asked for

kel_wchar message_file[16];  // the plug-in's message file in text/<language>/, as a wide name
int presses;                 // the button's presses in this session

void message_show(const char* key) {
  KelMessageDisplay(message_file, key, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

// The host visits every feature of a model; the filter lets the components through.
KelError component_filter(KelFeature* feature, void*) {
  int type = 0;
  if (KelFeatureTypeGet(feature, &type) != KEL_TK_NO_ERROR) return KEL_TK_CONTINUE;
  return type == KEL_FEAT_COMPONENT ? KEL_TK_NO_ERROR : KEL_TK_CONTINUE;
}

KelError component_count(KelFeature*, KelError, void* app_data) {
  ++*static_cast<int*>(app_data);
  return KEL_TK_NO_ERROR;
}

// The button's action: 1 when the report was written, else 0.
int model_info_command(void*, int) {
  ++presses;
  message_show("AskLabel");
  kel_wchar reply[kReplyMax + 1] = {};
  if (KelMessageStringRead(kReplyMax, reply) != KEL_TK_NO_ERROR) return 0;  // cancelled
  char label[4 * kReplyMax + 1];
  KelWideToText(label, reply);

  KelMdl model = nullptr;
  if (KelMdlCurrentGet(&model) != KEL_TK_NO_ERROR || !model) return 0;
  kel_wchar wide_name[KEL_NAME_SIZE] = {};
  char name[4 * KEL_NAME_SIZE + 1] = "?";  // what the host could not give is shown as "?"
  if (KelMdlNameGet(model, wide_name) == KEL_TK_NO_ERROR) KelWideToText(name, wide_name);
  int type = 0;
  const char* kind = KelMdlTypeGet(model, &type) != KEL_TK_NO_ERROR ? "?"
                     : type == KEL_MDL_ASSEMBLY                     ? "assembly"
                                                                    : "part";
  int components = 0;
  if (KelSolidFeatVisit(model, component_count, component_filter, &components) != KEL_TK_NO_ERROR)
    components = -1;

  std::FILE* report = std::fopen("modelinfo.txt", "w");
  if (!report) return 0;
  std::fprintf(report, "Label: %s\nModel: %s (%s)\nComponents: %d\nPress: %d\n", label, name, kind,
               components, presses);
  if (std::fclose(report) != 0) return 0;
  message_show("Written");
  return 1;
}

}  // namespace

// The hand-shake is accepted: register the menu file and bind the button's action. A non-zero
// result fails the hand-shake.
int kel_app_initialize(void*, void*, const char*, const char*, kel_wchar*) {
  KelTextToWide(message_file, "info_msg.txt");
  int menu_id = 0;
  KelError status = KelMenuFileRegister("info", "info.mnu", &menu_id);
  if (status == KEL_TK_NO_ERROR)
    status = KelMenubuttonActionSet("info", "-ModelInfo", model_info_command, nullptr, 0);
  return status;
}

int kel_app_terminate(void) { return 0; }
