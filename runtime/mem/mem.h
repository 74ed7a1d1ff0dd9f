// Heap blocks: the runtime's allocation interface. Blocks are zero-filled; released memory is filled with 0xFF.
#pragma once
#include "runtime/kel_base.h"

KEL_BEGIN_C
void* getmem(int size);
void* getmem_xar(int size, int xarray_flag);
void* getmem_or_null(int size);
void* relocmem(void* ptr, int size);
void* relocmem_xar(void* ptr, int size, int xarray_flag);
int rlsmem(void* ptr);
KEL_END_C
