// The template plug-in written in C: the same menu, button and report as modelinfo.cpp, built
// into modelinfo_c.so / modelinfo_c.dll. A C plug-in includes the same headers; the typed host
// calls take their arguments as in C++, while an untyped stub takes plain 32-bit words, so a
// pointer is passed to it as (uint32_t)(uintptr_t)pointer.
#include <stdint.h>
#include <stdio.h>

#include "binding/host_stubs.h"
#include "binding/local_calls.h"
#include "binding/plugin_hooks.h"

enum { REPLY_MAX = 50 };  // the longest label the host is asked for

static kel_wchar message_file[16];  // the plug-in's message file in text/<language>/
static int presses;                 // the button's presses in this session

static void message_show(const char* key) {
  KelMessageDisplay((uint32_t)(uintptr_t)message_file, (uint32_t)(uintptr_t)key, 0, 0, 0, 0, 0, 0,
                    0, 0, 0, 0);
}

// The host visits every feature of a model; the filter lets the components through.
static KelError component_filter(KelFeature* feature, void* app_data) {
  int type = 0;
  (void)app_data;
  if (KelFeatureTypeGet(feature, &type) != KEL_TK_NO_ERROR) return KEL_TK_CONTINUE;
  return type == KEL_FEAT_COMPONENT ? KEL_TK_NO_ERROR : KEL_TK_CONTINUE;
}

static KelError component_count(KelFeature* feature, KelError status, void* app_data) {
  (void)feature;
  (void)status;
  ++*(int*)app_data;
  return KEL_TK_NO_ERROR;
}

// The button's action: 1 when the report was written, else 0.
static int model_info_command(void* app_data, int app_int) {
  kel_wchar reply[REPLY_MAX + 1] = {0};
  char label[4 * REPLY_MAX + 1];
  KelMdl model = NULL;
  kel_wchar wide_name[KEL_NAME_SIZE] = {0};
  char name[4 * KEL_NAME_SIZE + 1] = "?";  // what the host could not give is shown as "?"
  const char* kind = "?";
  int type = 0, components = 0;
  FILE* report;
  (void)app_data;
  (void)app_int;

  ++presses;
  message_show("AskLabel");
  if (KelMessageStringRead(REPLY_MAX, reply) != KEL_TK_NO_ERROR) return 0;  // cancelled
  KelWideToText(label, reply);
  if (KelMdlCurrentGet(&model) != KEL_TK_NO_ERROR || !model) return 0;
  if (KelMdlNameGet(model, wide_name) == KEL_TK_NO_ERROR) KelWideToText(name, wide_name);
  if (KelMdlTypeGet(model, &type) == KEL_TK_NO_ERROR)
    kind = type == KEL_MDL_ASSEMBLY ? "assembly" : "part";
  if (KelSolidFeatVisit(model, component_count, component_filter, &components) != KEL_TK_NO_ERROR)
    components = -1;

  report = fopen("modelinfo.txt", "w");
  if (!report) return 0;
  fprintf(report, "Label: %s\nModel: %s (%s)\nComponents: %d\nPress: %d\n", label, name, kind,
          components, presses);
  if (fclose(report) != 0) return 0;
  message_show("Written");
  return 1;
}

// The hand-shake is accepted: register the menu file and bind the button's action. A non-zero
// result fails the hand-shake.
int kel_app_initialize(void* arg1, void* arg2, const char* release, const char* build,
                       kel_wchar* message_buffer) {
  int menu_id = 0;
  KelError status;
  (void)arg1, (void)arg2, (void)release, (void)build, (void)message_buffer;
  KelTextToWide(message_file, "info_msg.txt");
  status = KelMenuFileRegister("info", "info.mnu", &menu_id);
  if (status == KEL_TK_NO_ERROR)
    status = KelMenubuttonActionSet("info", "-ModelInfo", model_info_command, NULL, 0);
  return status;
}

int kel_app_terminate(void) { return 0; }
