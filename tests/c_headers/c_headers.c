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
  check(linked_by_name(), "har_object, har_append and the lock calls linked by name");
  return failures == 0 ? 0 : 1;
}
