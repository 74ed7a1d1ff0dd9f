// BOOTSTRAP ONLY: minimal bodies so that the tree links before the diagnostics land. Delete when replaced.
#include <stdio.h>
#include <stdlib.h>
#include "runtime/diag/diag.h"

int dbg_err_crash(const char*, const char*, ...) { return 1; }
int order_debug_note(const char*, const char*, ...) { return 1; }
int info_note(const char*, const char*, ...) { return 0; }
void error_break(const char* message) { printf("%s\n", message); crash(); }
int crash(void) { printf("Serious internal error; cannot continue.\n"); exit(2); }
