// The hand-shake with the host: the binding record, the host function table look-up, the
// accessors the stubs and local toolkit calls read, and the module's two exported entry points.
#pragma once
#include "binding/kel_error.h"

#if defined(_WIN32)
#define KEL_MODULE_EXPORT __declspec(dllexport)
#else
#define KEL_MODULE_EXPORT __attribute__((visibility("default")))
#endif
// Module-internal data reached without going through the symbol table.
#if defined(__GNUC__) && !defined(_WIN32)
#define KEL_MODULE_HIDDEN __attribute__((visibility("hidden")))
#else
#define KEL_MODULE_HIDDEN
#endif

KEL_BEGIN_C

// One row of the host function table: the host owns the array, sorted by strcmp of the names.
typedef struct KelHostFunctionEntry {
  void* function;    // called caller-cleans with (context handle, argument words...)
  const char* name;  // e.g. "KelMdlCurrentGet_v"
} KelHostFunctionEntry;
KEL_STATIC_ASSERT(sizeof(KelHostFunctionEntry) == 8, "host function entries are 8 bytes");

enum { KEL_HOST_COPY_SIZE = 16, KEL_DIRECTORY_SIZE = 256 };

// What the hand-shake learnt about the host; one process-wide record, written by
// user_initialize_plus and read by the stubs.
typedef struct KelBinding {
  int32_t context_handle;             // -1 until the hand-shake
  const KelHostFunctionEntry* table;  // null until a successful version check
  int32_t table_count;
  const char* release;  // as handed over
  const char* build;
  char release_copy[KEL_HOST_COPY_SIZE];  // at most 15 characters of each
  char build_copy[KEL_HOST_COPY_SIZE];
  int32_t host_version;  // release x 10,000,000 + build
  int32_t own_version;   // -1 until first computed
  const char* text_root;
  const char* second_string;  // only given back by KelApplPathGet
  void* reserved8;            // kept, not interpreted
  void* reserved11;
  char text_directory[KEL_DIRECTORY_SIZE];
  char menus_directory[KEL_DIRECTORY_SIZE];
} KelBinding;

// The record itself. The stubs read it directly; test drivers may install a table through it.
extern KEL_MODULE_HIDDEN KelBinding kel_binding;

// The address of the host function named `name` (binary search), or null.
void* host_function_find(const char* name);

// The directory buffers of the hand-shake (never null; empty before it).
char* text_directory_get(void);
char* menus_directory_get(void);
int32_t host_version_get(void);
// 21 x 10,000,000 + the normalised build code; computed on the first call.
int32_t own_version_get(void);
// Copies the kept release and build copies into buffers of at least 16 bytes; returns 1.
int host_version_strings_get(char* release_out, char* build_out);

// Rewrites a build code in place to its 7-digit (year, week, day) form, or to "INVALID".
// `code` must hold at least 8 bytes.
void build_code_normalise(char* code);

// The plug-in's release number and build code.
enum { KEL_OWN_RELEASE = 21 };
#define KEL_OWN_BUILD_CODE "1999430"

// The external release name for a host release text (rows 21 down to 1 of the release table
// are compared); the text itself when no row matches.
const char* host_release_name(const char* release);

// Row `row` (0 to 21) of the release table: internal text and external name; null outside.
const char* release_internal_text(int row);
const char* release_external_name(int row);

// The types of the two entry points, for hosts that look them up in a loaded module. Every
// argument is one 32-bit word; see the hand-shake's definition for each.
typedef int32_t KelInitializeFn(void* app_arg1, void* app_arg2, const char* release,
                                const char* build, void* unused5, kel_wchar* message_buffer,
                                const char* text_root, void* arg8, const char* second_string,
                                int32_t context_handle, void* arg11,
                                const KelHostFunctionEntry* table, int32_t table_count,
                                int32_t language);
typedef int32_t KelTerminateFn(void);

// The hand-shake: checks the host's version, keeps the binding record, chooses the directories
// and calls the application's initialisation hook.
KEL_MODULE_EXPORT KelInitializeFn user_initialize_plus;
// Runs the application's termination hook; the binding record stays as it is.
KEL_MODULE_EXPORT KelTerminateFn user_terminate_plus;

KEL_END_C
