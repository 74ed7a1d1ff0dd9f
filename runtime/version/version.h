// Versioned file names: a file kept as name.ext.1, name.ext.2, ... whose readers take the
// highest number. Version numbers, the highest and next version of a file in its directory,
// versioned opening, letter-case variants, and the name-cutting helpers.
//
// Wide paths use "\" between components. Every output path buffer holds VERSION_PATH_MAX units
// (or bytes): a result that would not fit leaves an empty output, never a longer one.
#pragma once
#include <stdio.h>
#include "runtime/version/file_object.h"
#include "platform/kel_base.h"

KEL_BEGIN_C
#define VERSION_PATH_MAX 256

// Statuses of version_query.
enum {
  VERSION_OK = 0,
  VERSION_NONE = 2,           // query 1: no version present
  VERSION_UNLISTABLE = 7,     // the file's directory cannot be listed
  VERSION_NO_NEXT = 8,        // query 2: a generic file present only without version
  VERSION_BAD_QUERY = 9,      // a bad query or a missing output
  VERSION_INVALID_FILE = 11,  // an invalid file object
};
enum { VERSION_QUERY_OWN = 0, VERSION_QUERY_HIGHEST = 1, VERSION_QUERY_NEXT = 2 };

// 1 when `text` is a version number: a digit 1-9 or "-" and a digit, then digits only, the
// value within a 16-bit signed integer. 0, 007, 12a, 99999 are not; -3 is.
int is_version_number(const char* text);
int is_version_number_wide(const kel_wchar* text);
// The value of a text that is a version number.
int version_number_value(const char* text);

// Calls action(exact, other, context) for every entry of the listing, in listing order: exact
// is the version of an entry named `file_name` or `file_name`.N (0 for the name alone), other
// the same for an entry matching only when letter case is ignored; -1 where it does not count.
typedef void (*versions_scan_action)(int exact, int other, void* context);
void versions_scan(kel_file_listing* listing, const char* file_name, versions_scan_action action,
                   void* context);

int version_query(const kel_file_object* file, int query, int* value);
// The number of versions found and an xarray of 32-bit values in `list` (null when none), or -1.
int pfa_get_versions(const kel_file_object* file, int32_t** list);
int kel_get_highest_version(const kel_wchar* path);
// The count and a new getmem array (release with rlsmem) of 16-bit versions in ascending order,
// the unversioned file counted as 1; null when the count is 0.
int kel_get_all_versions(const kel_wchar* path, int16_t** versions);

// Opens version `version` of `path` (0: chosen by the mode from the versions its directory lists,
// null when it cannot be listed; negative: the path unchanged), its file part lowered. A path whose
// text after the second point is a version number already carries one and is refused for version >=
// 0. Writers get that name or null; readers (a mode beginning "r") fall back to the name alone for
// version 1, then to the name the directory lists in another letter case (the folder part is never
// changed).
FILE* kel_spg_fopen(const kel_wchar* path, int version, const char* mode);
FILE* kel_spg_try_rol_fopen(const kel_wchar* path, kel_wchar* found_path, int* version);
int find_case_variant(const kel_wchar* path, kel_wchar* found_path);
int versioned_access(const kel_wchar* path, int version, int mode);
FILE* versioned_fopen(const kel_wchar* path, const char* mode);
// flags: the C library's own open flags of this platform (O_RDONLY, O_CREAT, ... of <fcntl.h>);
// 0 (read only) finds the existing name, any other value composes the lowered name.
int versioned_open(const kel_wchar* path, int flags, int permission);

void lower_file_part(const kel_wchar* path, kel_wchar* out);
void strip_version(const char* name, char* out);
void strip_version_wide(const kel_wchar* name, kel_wchar* out);
int split_version(const char* name, char* out);
void strip_extension(const char* name, char* out);
void strip_extension_wide(const kel_wchar* name, kel_wchar* out);
KEL_END_C
