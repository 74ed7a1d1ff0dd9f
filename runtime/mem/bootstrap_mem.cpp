// BOOTSTRAP ONLY: minimal bodies so that the tree links before the heap blocks land. Delete when replaced.
#include <stdlib.h>
#include <string.h>
#include "runtime/mem/mem.h"

void* getmem(int size) { return size > 0 ? calloc(1, size) : nullptr; }
void* getmem_xar(int size, int) { return getmem(size); }
void* getmem_or_null(int size) { return getmem(size); }
void* relocmem(void* ptr, int size) { return realloc(ptr, size); }
void* relocmem_xar(void* ptr, int size, int) { return realloc(ptr, size); }
int rlsmem(void* ptr) { free(ptr); return 0; }
