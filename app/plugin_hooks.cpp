// This plug-in's application is the CsysList command: the binding's hooks lead to it.
#include "binding/plugin_hooks.h"

#include "app/csys_app.h"

int kel_app_initialize(void* arg1, void* arg2, const char* release_name, const char* build,
                       kel_wchar* message_buffer) {
  return csys_app_initialize(arg1, arg2, release_name, build, message_buffer);
}

int kel_app_terminate(void) { return csys_app_terminate(); }
