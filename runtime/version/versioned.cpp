// Finding the versions of a file in its directory, and opening versioned files.
#include <string.h>

#include "platform/ascii.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/mbconv.h"
#include "runtime/version/version.h"
#include "runtime/xar/xar.h"

namespace {

constexpr int kTraceLevel = 9998;
constexpr int kTextMax = wstostr_size(VERSION_PATH_MAX);  // the 8-bit form of a full wide path

int wide_length(const kel_wchar* s) {
  int n = 0;
  while (s[n]) ++n;
  return n;
}

bool is_separator(kel_wchar c) { return c == '\\' || c == '/'; }
constexpr auto lower = ascii_lower<kel_wchar>;
constexpr auto upper = ascii_upper<kel_wchar>;

// A bounded wide path under construction: once something does not fit, it stays failed.
struct WidePath {
  kel_wchar text[VERSION_PATH_MAX];
  int length;
  bool overflow;
};

void wp_start(WidePath* p) {
  p->text[0] = 0;
  p->length = 0;
  p->overflow = false;
}

void wp_add(WidePath* p, const kel_wchar* s, int n, kel_wchar (*change)(kel_wchar) = nullptr) {
  if (p->overflow) return;
  if (p->length + n >= VERSION_PATH_MAX) {
    p->overflow = true;
    return;
  }
  for (int i = 0; i < n; ++i) p->text[p->length++] = change ? change(s[i]) : s[i];
  p->text[p->length] = 0;
}

void wp_add_char(WidePath* p, kel_wchar c) { wp_add(p, &c, 1); }

void wp_add_number(WidePath* p, int value) {
  char digits[16];
  kel_sprintf(digits, "%d", value);
  kel_wchar wide[16];
  int n = 0;
  for (; digits[n]; ++n) wide[n] = (kel_wchar)digits[n];
  wp_add(p, wide, n);
}

// The parts of a wide path: directory (with its last separator), base, extension and version text.
struct Parts {
  const kel_wchar* directory;
  int directory_length;
  const kel_wchar* base;
  int base_length;
  const kel_wchar* extension;  // null when the file part has no point
  int extension_length;
  const kel_wchar* version;  // null when it has no second point
  int version_length;
};

Parts split(const kel_wchar* path) {
  Parts parts{};
  const int length = wide_length(path);
  int start = 0;
  for (int i = 0; i < length; ++i)
    if (is_separator(path[i])) start = i + 1;
  parts.directory = path;
  parts.directory_length = start;
  parts.base = path + start;
  int i = start + 1;  // a leading point belongs to the base name
  while (i < length && path[i] != '.') ++i;
  parts.base_length = (i < length ? i : length) - start;
  if (i < length) {
    parts.extension = path + i + 1;
    int j = i + 1;
    while (j < length && path[j] != '.') ++j;
    parts.extension_length = j - (i + 1);
    if (j < length) {
      parts.version = path + j + 1;
      parts.version_length = length - (j + 1);
    }
  }
  return parts;
}

bool version_text_is_one(const Parts& parts) {
  return parts.version && parts.version_length == 1 && parts.version[0] == '1';
}

// The 8-bit form of a wide path; false for a null or overlong path.
bool to_text(const kel_wchar* wide, char* text) {
  text[0] = 0;
  if (!wide || wide_length(wide) >= VERSION_PATH_MAX) return false;
  wstostr(text, wide);
  return true;
}

FILE* open_wide(const kel_wchar* wide, const char* mode) {
  char text[kTextMax];
  return to_text(wide, text) ? platform_path_fopen(text, mode) : nullptr;
}

bool readable_wide(const kel_wchar* wide) {
  char text[kTextMax];
  return to_text(wide, text) && platform_path_access(text, 4) == 0;
}

// A file object made from the 8-bit form of a wide path.
bool object_from_wide(const kel_wchar* path, kel_file_object* object) {
  char text[kTextMax];
  if (!to_text(path, text)) {
    fobj_from_path(nullptr, object);
    return false;
  }
  return fobj_from_path(text, object);
}

struct Largest {
  int exact;
  int other;
};

void keep_largest(int exact, int other, void* context) {
  auto* largest = static_cast<Largest*>(context);
  if (exact > largest->exact) largest->exact = exact;
  if (other > largest->other) largest->other = other;
}

struct Lists {
  int32_t* exact;
  int32_t* other;
};

void collect(int exact, int other, void* context) {
  auto* lists = static_cast<Lists*>(context);
  if (exact != -1) xar_alloc_or_append(&lists->exact, 1, sizeof(int32_t), 16, &exact);
  if (other != -1) xar_alloc_or_append(&lists->other, 1, sizeof(int32_t), 16, &other);
}

// Closes the listing and frees both lists when a trap leaves pfa_get_versions.
void release_scan(intptr_t listing, intptr_t lists, intptr_t, intptr_t, intptr_t, intptr_t,
                  intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                  intptr_t, intptr_t) {
  fobj_list_close(reinterpret_cast<kel_file_listing*>(listing));
  auto* l = reinterpret_cast<Lists*>(lists);
  XAR_FREE(&l->exact);
  XAR_FREE(&l->other);
}

// Frees the xarray whose owner pointer args[0] points at, when a trap leaves its holder.
void release_list(intptr_t list, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                  intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                  intptr_t) {
  XAR_FREE(reinterpret_cast<int32_t**>(list));
}

void shell_sort(int32_t* values, int count) {
  for (int gap = count / 2; gap > 0; gap /= 2)
    for (int i = gap; i < count; ++i)
      for (int j = i - gap; j >= 0 && values[j] > values[j + gap]; j -= gap) {
        const int32_t t = values[j];
        values[j] = values[j + gap];
        values[j + gap] = t;
      }
}

}  // namespace

void versions_scan(kel_file_listing* listing, const char* file_name, versions_scan_action action,
                   void* context) {
  if (!listing || !file_name || !action) return;
  const size_t length = strlen(file_name);
  while (const char* entry = fobj_list_next(listing)) {
    int exact = -1, other = -1;
    const size_t entry_length = strlen(entry);
    if (entry_length >= length) {
      const char* after = entry + length;
      int value = -1;
      if (!*after)
        value = 0;
      else if (*after == '.' && is_version_number(after + 1))
        value = version_number_value(after + 1);
      if (memcmp(entry, file_name, length) == 0)
        exact = value;
      else if (ascii_ncompare_ignoring_case(entry, file_name, length) == 0)
        other = value;
    }
    action(exact, other, context);
  }
}

int version_query(const kel_file_object* file, int query, int* value) {
  if (!file || !file->valid) return VERSION_INVALID_FILE;
  if (!value) return VERSION_BAD_QUERY;
  if (query == VERSION_QUERY_OWN) {
    *value = file->version;
    return VERSION_OK;
  }
  if (query != VERSION_QUERY_HIGHEST && query != VERSION_QUERY_NEXT) return VERSION_BAD_QUERY;
  kel_file_object directory;
  kel_file_listing listing;
  if (!fobj_directory(file, &directory) || !fobj_list_open(&directory, &listing))
    return VERSION_UNLISTABLE;
  Largest largest{-1, -1};
  versions_scan(&listing, file->name, keep_largest, &largest);
  fobj_list_close(&listing);
  const int m = largest.exact > largest.other ? largest.exact : largest.other;
  if (m == -1) {
    if (query == VERSION_QUERY_HIGHEST) return VERSION_NONE;
    *value = 1;
  } else if (m == 0) {
    if (query == VERSION_QUERY_HIGHEST)
      *value = 0;
    else if (file->typed)
      *value = 2;
    else
      return VERSION_NO_NEXT;
  } else {
    *value = query == VERSION_QUERY_HIGHEST ? m : m + 1;
  }
  return VERSION_OK;
}

int pfa_get_versions(const kel_file_object* file, int32_t** list) {
  if (order_debug_level_is(kTraceLevel))
    info_note("pfa_get_versions", "Find all versions of this file.");
  if (!file || !file->valid || !list) return -1;
  *list = nullptr;
  kel_file_object directory;
  kel_file_listing listing;
  memset(&listing, 0, sizeof listing);
  Lists lists{nullptr, nullptr};
  // The cleanup is in place before the listing opens (registering it may fail as well).
  const intptr_t args[16] = {reinterpret_cast<intptr_t>(&listing),
                             reinterpret_cast<intptr_t>(&lists)};
  const int guarded = trap_cleanup_add(release_scan, args);
  if (!fobj_directory(file, &directory) || !fobj_list_open(&directory, &listing)) {
    if (guarded) trap_cleanup_drop();
    return -1;
  }
  versions_scan(&listing, file->name, collect, &lists);
  if (guarded) trap_cleanup_drop();
  fobj_list_close(&listing);
  if (!lists.exact && !file->typed) {
    lists.exact = lists.other;
    lists.other = nullptr;
  }
  XAR_FREE(&lists.other);
  *list = lists.exact;
  return XAR_COUNT(&lists.exact);
}

namespace {

// kel_get_highest_version, and in `listed` whether the file's directory could be listed (a
// directory that cannot be listed hides the versions it holds).
int highest_version(const kel_wchar* path, bool* listed) {
  if (order_debug_level_is(kTraceLevel)) message_print("kel_get_highest_version(%ws)\n", path);
  kel_file_object file;
  int value = 0;
  const int status = object_from_wide(path, &file)
                         ? version_query(&file, VERSION_QUERY_HIGHEST, &value)
                         : VERSION_INVALID_FILE;
  *listed = status == VERSION_OK || status == VERSION_NONE;
  if (status != VERSION_OK) return 0;
  return value == 0 ? 1 : value;
}

}  // namespace

int kel_get_highest_version(const kel_wchar* path) {
  bool listed;
  return highest_version(path, &listed);
}

int kel_get_all_versions(const kel_wchar* path, int16_t** versions) {
  if (order_debug_level_is(kTraceLevel)) message_print("kel_get_all_versions(%ws)\n", path);
  if (versions) *versions = nullptr;
  kel_file_object file;
  int32_t* list = nullptr;
  object_from_wide(path, &file);
  // The list is freed by a trap that leaves while it is held.
  const intptr_t args[16] = {reinterpret_cast<intptr_t>(&list)};
  const int guarded = trap_cleanup_add(release_list, args);
  const int count = pfa_get_versions(&file, &list);
  auto* out =
      count > 0 && versions ? static_cast<int16_t*>(getmem(count * (int)sizeof(int16_t))) : nullptr;
  if (guarded) trap_cleanup_drop();
  if (!out) {
    XAR_FREE(&list);
    return count < 0 || (count > 0 && versions) ? 0 : count;
  }
  shell_sort(list, count);
  if (out)
    for (int i = 0; i < count; ++i) out[i] = (int16_t)(list[i] == 0 ? 1 : list[i]);
  XAR_FREE(&list);
  *versions = out;
  return out ? count : 0;
}

namespace {

// Whether the file part carries a version: the text after its second point is a version number,
// as the file-object layer reads names (x.abc.3 does; my.data.prt and x.abc.x1 do not).
bool carries_version(const kel_wchar* path) {
  const Parts parts = split(path);
  return parts.version && is_version_number_wide(parts.version);
}

FILE* open_noting(const kel_wchar* wide, const char* mode, kel_wchar* found) {
  FILE* stream = open_wide(wide, mode);
  if (stream && found) memcpy(found, wide, sizeof(kel_wchar) * (size_t)(wide_length(wide) + 1));
  return stream;
}

// Opens the entry of the directory of `path` whose name equals the file part of `path` when
// ASCII letter case is ignored (the first one listed, matched as versions_scan matches names),
// and gives its wide name in `found` (may be null). Only the file part's case varies: the
// directory stays the one whose listing gave the versions.
FILE* open_listed_variant(const kel_wchar* path, const char* mode, kel_wchar* found) {
  char text[kTextMax];
  kel_file_object file, directory;
  kel_file_listing listing;
  if (!to_text(path, text) || !fobj_from_path(text, &file) || !fobj_directory(&file, &directory) ||
      !fobj_list_open(&directory, &listing))
    return nullptr;
  const size_t directory_length = strlen(file.directory);
  const char* wanted = text + directory_length;
  char name[VERSION_PATH_MAX];  // short enough for its wide form to fit `found`
  name[0] = 0;
  while (const char* entry = fobj_list_next(&listing))
    if (ascii_equal_ignoring_case(entry, wanted) &&
        directory_length + strlen(entry) < sizeof name) {
      memcpy(name, text, directory_length);
      strcpy(name + directory_length, entry);
      break;
    }
  fobj_list_close(&listing);
  if (!name[0]) return nullptr;
  kel_wchar wide[VERSION_PATH_MAX];
  strtows(wide, name);  // before the open: nothing is held while the conversion may trap
  FILE* stream = platform_path_fopen(name, mode);
  if (stream && found) memcpy(found, wide, sizeof wide);
  return stream;
}

// Opens `name` (its file part lowered), with "." and `version` appended when that is not
// negative. Only readers (a mode beginning "r") fall back, to names that exist: version 1 may be
// the name alone, and either may be listed in another letter case. A writer gets the name it
// asked for or nothing, never an older file in its place.
FILE* open_version(const kel_wchar* name, int version, const char* mode, kel_wchar* found) {
  WidePath full;
  wp_start(&full);
  wp_add(&full, name, wide_length(name));
  if (version >= 0) {
    wp_add_char(&full, '.');
    wp_add_number(&full, version);
  }
  if (full.overflow) return nullptr;
  FILE* stream = open_noting(full.text, mode, found);
  if (stream || mode[0] != 'r') return stream;
  // The name without version: the name itself, or a path given with its own version cut.
  kel_wchar alone[VERSION_PATH_MAX];
  if (version < 0 && carries_version(name))
    strip_version_wide(name, alone);
  else
    memcpy(alone, name, sizeof(kel_wchar) * (size_t)(wide_length(name) + 1));
  if (version < 0) version = kel_get_highest_version(name);
  if (version == 1) stream = open_noting(alone, mode, found);
  if (!stream) stream = open_listed_variant(full.text, mode, found);
  if (!stream && version == 1) stream = open_listed_variant(alone, mode, found);
  return stream;
}

}  // namespace

FILE* kel_spg_fopen(const kel_wchar* path, int version, const char* mode) {
  if (!path || !mode) return nullptr;
  if (version >= 0 && carries_version(path)) {
    info_note("kel_spg_fopen", "wrong in_version, file not open\n");
    return nullptr;
  }
  kel_wchar name[VERSION_PATH_MAX];
  lower_file_part(path, name);
  if (!name[0]) return nullptr;
  if (version == 0) {
    bool listed;
    const int highest = highest_version(name, &listed);
    // Unlisted versions are unknown: a writer would take version 1 even where it exists.
    if (!listed) return nullptr;
    if (mode[0] == 'w')
      version = highest > 0 ? highest + 1 : 1;
    else if (mode[0] == 'r') {
      if (highest <= 0) return nullptr;
      version = highest;
    } else
      version = highest > 0 ? highest : 1;
  }
  return open_version(name, version, mode, nullptr);
}

FILE* kel_spg_try_rol_fopen(const kel_wchar* path, kel_wchar* found_path, int* version) {
  if (!path) return nullptr;
  if (carries_version(path)) {
    info_note("kel_spg_try_rol_fopen", "file has version, file not open\n");
    return nullptr;
  }
  kel_wchar name[VERSION_PATH_MAX];
  lower_file_part(path, name);
  const int highest = name[0] ? kel_get_highest_version(name) : 0;
  if (highest <= 0) return nullptr;
  FILE* stream = open_version(name, highest, "r", found_path);
  if (version) *version = highest;
  return stream;
}

int find_case_variant(const kel_wchar* path, kel_wchar* found_path) {
  if (!path || wide_length(path) >= VERSION_PATH_MAX) return 0;
  const Parts parts = split(path);
  using Change = kel_wchar (*)(kel_wchar);
  const Change same = nullptr;
  // The order decides which of several existing variants is found.
  const Change tries[5][2] = {
      {same, same}, {lower, lower}, {upper, upper}, {lower, upper}, {upper, lower}};
  for (const auto& change : tries) {
    WidePath name;
    wp_start(&name);
    wp_add(&name, parts.directory, parts.directory_length);
    wp_add(&name, parts.base, parts.base_length, change[0]);
    if (parts.extension) {
      wp_add_char(&name, '.');
      wp_add(&name, parts.extension, parts.extension_length, change[1]);
    }
    const int without_version = name.length;
    if (parts.version) {
      wp_add_char(&name, '.');
      wp_add(&name, parts.version, parts.version_length);
    }
    bool found = readable_wide(name.text);
    if (!found && version_text_is_one(parts)) {
      name.text[without_version] = 0;
      found = readable_wide(name.text);
    }
    if (found) {
      if (found_path) memcpy(found_path, name.text, sizeof name.text);
      return 1;
    }
  }
  return 0;
}

int versioned_access(const kel_wchar* path, int version, int mode) {
  if (!path) return -1;
  if (version == 0) version = kel_get_highest_version(path);
  WidePath name;
  wp_start(&name);
  wp_add(&name, path, wide_length(path));
  if (version > 0) {
    wp_add_char(&name, '.');
    wp_add_number(&name, version);
  }
  if (name.overflow) return -1;
  char text[kTextMax];
  if (mode == 0 && to_text(name.text, text) && platform_path_access(text, 0) == 0) return 0;
  kel_wchar found[VERSION_PATH_MAX];
  if (!find_case_variant(name.text, found) || !to_text(found, text)) return -1;
  return platform_path_access(text, mode) == 0 ? 0 : -1;
}

namespace {

// The name a writer uses: the directory unchanged, base and extension lowered, the version text.
bool compose_lowered(const kel_wchar* path, kel_wchar* out) {
  const Parts parts = split(path);
  WidePath name;
  wp_start(&name);
  wp_add(&name, parts.directory, parts.directory_length);
  wp_add(&name, parts.base, parts.base_length, lower);
  if (parts.extension) {
    wp_add_char(&name, '.');
    wp_add(&name, parts.extension, parts.extension_length, lower);
    if (parts.version) {
      wp_add_char(&name, '.');
      wp_add(&name, parts.version, parts.version_length);
    }
  }
  if (name.overflow) return false;
  memcpy(out, name.text, sizeof name.text);
  return true;
}

}  // namespace

FILE* versioned_fopen(const kel_wchar* path, const char* mode) {
  if (!path || !mode || wide_length(path) >= VERSION_PATH_MAX) return nullptr;
  kel_wchar name[VERSION_PATH_MAX];
  // Readers (any mode starting with "r") need the file as it exists.
  const bool found = mode[0] == 'r' ? find_case_variant(path, name) : compose_lowered(path, name);
  return found ? open_wide(name, mode) : nullptr;
}

int versioned_open(const kel_wchar* path, int flags, int permission) {
  if (!path || wide_length(path) >= VERSION_PATH_MAX) return -1;
  kel_wchar name[VERSION_PATH_MAX];
  const bool found = flags == 0 ? find_case_variant(path, name) : compose_lowered(path, name);
  char text[kTextMax];
  if (!found || !to_text(name, text)) return -1;
  return platform_path_open(text, flags, permission);
}
