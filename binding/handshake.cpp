// The module's entry points and the hand-shake with the host: version check, text and menus
// directories, the binding record and the host function table look-up.
#include <stdlib.h>
#include <string.h>

#include <array>

#include "binding/host_binding.h"
#include "binding/host_stubs.h"
#include "binding/plugin_hooks.h"
#include "platform/fileattr.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/lang.h"

KelBinding kel_binding = {
    .context_handle = -1,
    .table = nullptr,
    .table_count = 0,
    .release = nullptr,
    .build = nullptr,
    .release_copy = {},
    .build_copy = {},
    .host_version = 0,
    .own_version = -1,
    .text_root = nullptr,
    .second_string = nullptr,
    .reserved8 = nullptr,
    .reserved11 = nullptr,
    .text_directory = {},
    .menus_directory = {},
};

namespace {

constexpr int32_t kVersionScale = 10000000;
constexpr int kUsasciiLanguage =
    6;  // usascii's second number, not 0: kept as the system always chose
constexpr char kSeparator = '\\';

struct ReleaseRow {
  const char* internal;
  const char* external;
};

// Row 0 stands for no valid release; rows 1 to 20 are their own names; 21 is this release.
constexpr std::array<ReleaseRow, 22> release_table = {{
    {"Illegal Internal Version", "Illegal External Version"},
    {"1", "1"},
    {"2", "2"},
    {"3", "3"},
    {"4", "4"},
    {"5", "5"},
    {"6", "6"},
    {"7", "7"},
    {"8", "8"},
    {"9", "9"},
    {"10", "10"},
    {"11", "11"},
    {"12", "12"},
    {"13", "13"},
    {"14", "14"},
    {"15", "15"},
    {"16", "16"},
    {"17", "17"},
    {"18", "18"},
    {"19", "19"},
    {"20", "20"},
    {"21", "4400t"},
}};
static_assert(KEL_OWN_RELEASE == release_table.size() - 1);

const char* text_or_empty(const char* text) { return text ? text : ""; }

// Copies at most size - 1 characters and always terminates.
void copy_cut(char* out, size_t size, const char* text) {
  size_t length = strnlen(text_or_empty(text), size - 1);
  memcpy(out, text_or_empty(text), length);
  out[length] = '\0';
}

// Formats with the runtime's engine into its own buffer, then keeps what fits in the directory
// buffer; a text the engine cannot format leaves the buffer empty.
template <class... Args>
void format_directory(char (&out)[KEL_DIRECTORY_SIZE], const char* format, Args... args) {
  const char* text = kel_sprintf(nullptr, format, args...);
  copy_cut(out, sizeof out, text);
}

// True when `path` names a directory; drops one trailing backslash from it first.
bool is_directory(char* path) {
  size_t length = strlen(path);
  if (length > 0 && path[length - 1] == kSeparator) path[length - 1] = '\0';
  uint32_t attributes = platform_file_attributes(path);
  return attributes != PLATFORM_INVALID_FILE_ATTRIBUTES &&
         (attributes & PLATFORM_FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Release number: 17 for the "G-03" and "17." forms, else the leading decimal number.
int32_t release_number(const char* release) {
  if (strstr(release, "G-03") || strstr(release, "17.")) return 17;
  return atoi(release);
}

// release x 10,000,000 + build, wrapping like the host's 32-bit arithmetic.
int32_t version_number(int32_t release, int32_t build) {
  return static_cast<int32_t>(static_cast<uint32_t>(release) *
                                  static_cast<uint32_t>(kVersionScale) +
                              static_cast<uint32_t>(build));
}

// Writes the release the plug-in needs into the host's message buffer.
void required_version_write(kel_wchar* message_buffer, int32_t own) {
  if (!message_buffer) return;
  int32_t major = own / kVersionScale;
  int32_t minor = own % kVersionScale;
  if (static_cast<uint32_t>(major) <= KEL_OWN_RELEASE)
    kel_sprintf_wide(message_buffer, "%s|%d", release_table[major].external, minor);
  else
    kel_sprintf_wide(message_buffer, "%d|%d", major, minor);
}

// Chooses the text and menus directories under the text root for the host's language, falling
// back to "usascii" and then to the text root's own "text" folder.
void directories_choose(int32_t language) {
  const char* root = text_or_empty(kel_binding.text_root);
  const char* name = lang_name_from_code(language);
  bool found = false;
  if (name && *name) {
    format_directory(kel_binding.text_directory, "%s%ctext%c%s", root, kSeparator, kSeparator,
                     name);
    found = is_directory(kel_binding.text_directory);
  }
  if (!found) {
    name = lang_name_from_code(kUsasciiLanguage);
    format_directory(kel_binding.text_directory, "%s%ctext%c%s", root, kSeparator, kSeparator,
                     text_or_empty(name));
    if (!is_directory(kel_binding.text_directory)) name = nullptr;
  }
  if (name) {
    format_directory(kel_binding.menus_directory, "%s%ctext%c%s%cmenus", root, kSeparator,
                     kSeparator, name, kSeparator);
  } else {
    format_directory(kel_binding.menus_directory, "%s%ctext%cmenus", root, kSeparator, kSeparator);
    format_directory(kel_binding.text_directory, "%s%ctext", root, kSeparator);
  }
}

}  // namespace

const char* host_release_name(const char* release) {
  release = text_or_empty(release);
  for (int row = KEL_OWN_RELEASE; row >= 1; --row)
    if (strcmp(release, release_table[row].internal) == 0) return release_table[row].external;
  return release;
}

const char* release_internal_text(int row) {
  return row >= 0 && row < static_cast<int>(release_table.size()) ? release_table[row].internal
                                                                  : nullptr;
}

const char* release_external_name(int row) {
  return row >= 0 && row < static_cast<int>(release_table.size()) ? release_table[row].external
                                                                  : nullptr;
}

void build_code_normalise(char* code) {
  long v = atol(code);
  size_t n = strlen(code);
  long normalised = -1;
  if (v > 0) {
    switch (n) {
      case 4:  // two-digit year, week
        if (v % 100 >= 1 && v % 100 <= 52) normalised = 10 * v + (v < 8501 ? 2000000 : 1900000);
        break;
      case 5:  // two-digit year, week, day
        if (v % 1000 >= 10 && v % 1000 <= 529) normalised = v + (v < 85001 ? 2000000 : 1900000);
        break;
      case 6:  // year, week
        if (v % 100 >= 1 && v % 100 <= 52 && v / 100 >= 1985 && v / 100 <= 2084)
          normalised = 10 * v;
        break;
      case 7:  // year, week, day
        if (v % 1000 >= 10 && v % 1000 <= 529 && v / 1000 >= 1985 && v / 1000 <= 2084)
          normalised = v;
        break;
      default: break;
    }
  }
  if (normalised < 0)
    strcpy(code, "INVALID");
  else
    kel_sprintf(code, "%d", static_cast<int>(normalised));
}

int32_t own_version_get(void) {
  if (kel_binding.own_version == -1) {
    char code[KEL_HOST_COPY_SIZE] = KEL_OWN_BUILD_CODE;
    build_code_normalise(code);
    kel_binding.own_version = version_number(KEL_OWN_RELEASE, static_cast<int32_t>(atol(code)));
  }
  return kel_binding.own_version;
}

int32_t host_version_get(void) { return kel_binding.host_version; }

char* text_directory_get(void) { return kel_binding.text_directory; }

char* menus_directory_get(void) { return kel_binding.menus_directory; }

int host_version_strings_get(char* release_out, char* build_out) {
  if (release_out) memcpy(release_out, kel_binding.release_copy, KEL_HOST_COPY_SIZE);
  if (build_out) memcpy(build_out, kel_binding.build_copy, KEL_HOST_COPY_SIZE);
  return 1;
}

void* host_function_find(const char* name) {
  const KelHostFunctionEntry* entry = kel_binding.table;
  int32_t lo = 0;
  int32_t hi = kel_binding.table_count - 1;
  if (!entry || !name || hi < 0) return nullptr;
  // A matching entry, if any, lies between lo and hi inclusive.
  while (lo + 1 < hi) {
    int32_t mid = (lo + hi) / 2;
    if (strcmp(name, entry[mid].name) < 0)
      hi = mid - 1;
    else
      lo = mid;
  }
  if (strcmp(name, entry[lo].name) == 0) return entry[lo].function;
  if (strcmp(name, entry[hi].name) == 0) return entry[hi].function;
  return nullptr;
}

int32_t user_initialize_plus(void* app_arg1, void* app_arg2, const char* release, const char* build,
                             void* /*unused5*/, kel_wchar* message_buffer, const char* text_root,
                             void* arg8, const char* second_string, int32_t context_handle,
                             void* arg11, const KelHostFunctionEntry* table, int32_t table_count,
                             int32_t language) {
  kel_binding.context_handle = context_handle;
  kel_binding.release = release;
  kel_binding.build = build;
  kel_binding.reserved8 = arg8;
  kel_binding.second_string = second_string;
  kel_binding.text_root = text_root;
  kel_binding.reserved11 = arg11;

  copy_cut(kel_binding.release_copy, sizeof kel_binding.release_copy, release);
  copy_cut(kel_binding.build_copy, sizeof kel_binding.build_copy, build);
  kel_binding.host_version =
      version_number(release_number(kel_binding.release_copy), atoi(kel_binding.build_copy));

  int32_t own = own_version_get();
  if (own > kel_binding.host_version) {
    required_version_write(message_buffer, own);
    return KEL_VERSION_MISMATCH;
  }

  kel_binding.table = table;
  kel_binding.table_count = table ? table_count : 0;
  directories_choose(language);

  if (keldev_pass_version_info(own) == 0) return KEL_TK_GENERAL_ERROR;

  return kel_app_initialize(app_arg1, app_arg2, host_release_name(release), build, message_buffer);
}

int32_t user_terminate_plus(void) { return kel_app_terminate(); }
