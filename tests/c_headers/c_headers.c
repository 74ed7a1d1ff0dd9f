// Every public header included by a C compiler; a few calls show that their functions link with
// C names. Exits 0 when the calls answer as they do from C++.
#include <stdio.h>
#include <string.h>

#include "public_headers.h"

int linked_by_name(void);  // linked_by_name.c

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    printf("failed: %s\n", what);
    ++failures;
  }
}

// A host of two functions: each records the context handle and the words it was called with.
static int32_t seen[3];
static int32_t host_array_size(int32_t handle, void* array, int* size) {
  seen[0] = handle, seen[1] = (int32_t)(uintptr_t)array, *size = 5;
  return KEL_TK_NO_ERROR;
}
static void host_value_free(int32_t handle, uint32_t word) {
  seen[0] = handle, seen[2] = (int32_t)word;
}

// The stubs called from C bind their host functions by name and forward the words behind the
// handle, as from C++.
static void stubs_from_c(void) {
  KelHostFunctionEntry table[2] = {{NULL, "KelArraySizeGet_v"}, {NULL, "KelValueFree_v"}};
  int32_t (*array_size)(int32_t, void*, int*) = host_array_size;
  void (*value_free)(int32_t, uint32_t) = host_value_free;
  int size = 0;
  memcpy(&table[0].function, &array_size, sizeof array_size);  // ISO C has no cast to void*
  memcpy(&table[1].function, &value_free, sizeof value_free);
  kel_binding.table = table, kel_binding.table_count = 2, kel_binding.context_handle = 41;
  check(KelArraySizeGet((void*)table, &size) == KEL_TK_NO_ERROR && size == 5 && seen[0] == 41 &&
            seen[1] == (int32_t)(uintptr_t)table,
        "typed call from C");
  kel_binding.context_handle = 42;
  KelValueFree(7u);
  check(seen[0] == 42 && seen[2] == 7, "untyped stub from C");
  kel_binding.table = NULL, kel_binding.table_count = 0;
}

int main(void) {
  static const kel_wchar wide[] = {'C', 'S', '0', 0};
  check(wide_len(wide) == 3, "wide_len");
  check(strcmp(kel_error_name(KEL_TK_CONTINUE), "KEL_TK_CONTINUE") == 0, "kel_error_name");
  check(sizeof(KelAsmcomppath) == 4 + 4 * KEL_PATH_MAX_DEPTH + 4, "KelAsmcomppath layout");

  char* block = (char*)getmem(16);
  check(block != NULL, "getmem");
  if (block) {
    memset(block, 'x', 16);
    rlsmem(block);
  }
  stubs_from_c();
  check(linked_by_name(), "har_object, har_append and the lock calls linked by name");
  return failures == 0 ? 0 : 1;
}
