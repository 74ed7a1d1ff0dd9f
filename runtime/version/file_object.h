// The small file-object layer the versioned names work on: a file object made from a path, the
// object of its directory, a directory listing yielding entry names, the name with extension,
// the object's own version, and whether its type is one of the host's file types.
//
// Paths are 8-bit, with "\" (or "/") between components. Objects and listings are plain records
// kept by the caller; only an open listing holds a system resource (fobj_list_close frees it).
#pragma once
#include "platform/pfile.h"
#include "platform/kel_base.h"

KEL_BEGIN_C
#define FOBJ_PATH_MAX 256

typedef struct kel_file_object {
  int valid;                      // 0 for an object made from an unusable path
  char directory[FOBJ_PATH_MAX];  // up to and including the last separator; "" for none
  char name[FOBJ_PATH_MAX];       // file part without its version: base, point, extension
  char extension[FOBJ_PATH_MAX];  // between the first and the second point; "" for none
  int version;                    // the file part's version number, 0 when it carries none
  int typed;                      // the extension is one of the host's file types
} kel_file_object;

typedef struct kel_file_listing {
  platform_dir dir;
} kel_file_listing;

// Fills `object` from `path`: 1, or 0 (and an invalid object) for a null or empty path, a path
// of FOBJ_PATH_MAX or more bytes, or one whose file part is empty.
int fobj_from_path(const char* path, kel_file_object* object);
// The object of the file's directory ("." when the path names none): 1, or 0.
int fobj_directory(const kel_file_object* file, kel_file_object* directory);
// The directory path of a directory object as the system takes it.
const char* fobj_directory_path(const kel_file_object* directory);
// Opens the listing of a directory object: 1, or 0 when it cannot be listed.
int fobj_list_open(const kel_file_object* directory, kel_file_listing* listing);
// The next entry name, or null at the end.
const char* fobj_list_next(kel_file_listing* listing);
void fobj_list_close(kel_file_listing* listing);
// Whether a three-letter extension (any letter case) is one of the host's file types.
int fobj_is_host_type(const char* extension);
KEL_END_C
