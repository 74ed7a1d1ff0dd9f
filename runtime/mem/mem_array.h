// Arrays of two or more dimensions in one getmem block, indexed with repeated subscripts
// (a[i][j][k]). The block starts with the pointer tables of every level but the last, followed by
// the elements unless the caller supplies them. One rlsmem of the result releases it all.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// Level 0 of the tables, or null for n < 2, a negative dimension or element size. With `data`
// the elements are the caller's, which must outlive the array.
void* getmem_array(const int* dims, int n, int element_size, void* data);
void* getmem_2d(int rows, int cols, int element_size);
void* getmem_2d_on(int rows, int cols, int element_size, void* data);
void* getmem_3d(int d0, int d1, int d2, int element_size);
void* getmem_3d_on(int d0, int d1, int d2, int element_size, void* data);
KEL_END_C
