// The plug-in's application: the "-CsysList" button of the "assembly" menu and its report
// "csyspos.txt" of coordinate systems expressed in a picked reference coordinate system.
#pragma once
#include "binding/host_records.h"

KEL_BEGIN_C

// Module start: registers the menu files and binds the button. Its arguments are not read.
int csys_app_initialize(void* arg1, void* arg2, const char* release_name, const char* build,
                        kel_wchar* message_buffer);
// Module end: prints "sample END \n"; printf's result.
int csys_app_terminate(void);

// What the command hands to every host visit; one instance serves the whole recursion.
typedef struct CsysListData {
  KelAsmcomppath component_path;         // from the current model down to the listed component
  KelMdl component_model;                // model of the component being listed
  kel_wchar wanted_name[KEL_NAME_SIZE];  // lower-cased name looked for
} CsysListData;

// Appends `text` (and a blank when add_blank is non-zero) to the report the command is writing,
// "csyspos.txt~" until it is whole; 0, or EOF when the piece was not written.
int report_append(const char* text, int add_blank);
// The button's action: 0 when the name prompt gave no name or the report could not be written
// (the previous "csyspos.txt" then stays as it was), else 1.
int csys_list_command(void* app_data, int app_int);
// Lets the user pick the reference csys and writes its transform into `out`; 0, or -1 with
// `out` untouched.
int reference_csys_select(Transform out);
KelError component_filter(KelFeature* feature, void* app_data);
KelError component_visit(KelFeature* feature, KelError filter_status, void* app_data);
KelError csys_visit(KelCsys csys, KelError filter_status, void* app_data);

KEL_END_C
