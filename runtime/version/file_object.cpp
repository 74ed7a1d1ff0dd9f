#include "runtime/version/file_object.h"

#include <string.h>

#include "platform/ascii.h"
#include "runtime/version/version.h"

namespace {

// The host's own file types (a typed file has one of these extensions; every other name is a
// generic file): assembly, bill of components, drawing, format, layout, model, part, section,
// sketch and table.
constexpr const char* kHostTypes[] = {"asy", "abc", "drw", "frm", "lay",
                                      "mdl", "prt", "sec", "skt", "tbl"};

void invalidate(kel_file_object* object) { memset(object, 0, sizeof *object); }

}  // namespace

int fobj_is_host_type(const char* extension) {
  if (!extension) return 0;
  for (const char* type : kHostTypes)
    if (ascii_equal_ignoring_case(extension, type)) return 1;
  return 0;
}

int fobj_from_path(const char* path, kel_file_object* object) {
  invalidate(object);
  if (!path) return 0;
  const size_t length = strlen(path);
  if (length == 0 || length >= FOBJ_PATH_MAX) return 0;
  const char* file = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') file = p + 1;
  if (!*file) return 0;
  memcpy(object->directory, path, (size_t)(file - path));
  object->directory[file - path] = 0;
  strcpy(object->name, file);
  // A leading point belongs to the base name.
  char* first = strchr(object->name + 1, '.');
  char* second = first ? strchr(first + 1, '.') : nullptr;
  if (first) {
    const size_t n = (size_t)((second ? second : first + strlen(first)) - (first + 1));
    memcpy(object->extension, first + 1, n);
    object->extension[n] = 0;
  }
  // base.ext.N: the version is cut off; any other third part stays in the name.
  if (second && is_version_number(second + 1)) {
    object->version = version_number_value(second + 1);
    *second = 0;
  }
  object->typed = fobj_is_host_type(object->extension);
  object->valid = 1;
  return 1;
}

int fobj_directory(const kel_file_object* file, kel_file_object* directory) {
  invalidate(directory);
  if (!file || !file->valid) return 0;
  strcpy(directory->directory, file->directory[0] ? file->directory : ".");
  directory->valid = 1;
  return 1;
}

const char* fobj_directory_path(const kel_file_object* directory) { return directory->directory; }

int fobj_list_open(const kel_file_object* directory, kel_file_listing* listing) {
  if (!directory || !directory->valid) return 0;
  return platform_dir_open(&listing->dir, directory->directory);
}

const char* fobj_list_next(kel_file_listing* listing) { return platform_dir_next(&listing->dir); }

void fobj_list_close(kel_file_listing* listing) { platform_dir_close(&listing->dir); }
