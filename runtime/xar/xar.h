// Xarrays: growable arrays of fixed-size objects whose owner holds only a pointer to the first
// object. An 8-byte header before the objects and an 8-byte trailer after the reserved space hold
// the sizes, the growth parameters, the magics, the zone field and the count.
//
// Naming of arguments:
//   p_xar  the address of the owner's pointer variable (for example `int* a; XAR_EXTEND(&a, 1)`);
//          every call that may move the array takes it and rewrites the owner's pointer.
//   xar    a user pointer passed by value (calls that only read or exchange objects).
// A null user pointer is an empty, unallocated xarray.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C

// Block layout, little-endian. The header is 8 bytes before the user pointer.
enum {
  XAR_HDR_SIZE = 8,             // header bytes before the first object
  XAR_TRL_SIZE = 8,             // trailer bytes at the end of the block
  XAR_HEAD_MAGIC = 0x4858,      // u16 at user pointer - 2 ("XH")
  XAR_TAIL_MAGIC = 0x5458,      // u16 at block + units*8 - 8 ("XT")
  XAR_MAX_UNITS = 524287,       // bits 0-18 of the size-and-extension word
  XAR_MAX_EXTENSION = 8191,     // bits 19-31 of the size-and-extension word
  XAR_MAX_OBJECT_SIZE = 65535,  // u16 object size
  XAR_MAX_BYTES = 2047984,  // data bytes of the largest block (2,048,000 less header and trailer)
  XAR_DEFAULT_ZONE_CHUNK = 65435
};

// ---- primitives ----
void* XAR_ALLOC(int count, int object_size, int extension);
void* xar_alloc_in_zone(int zone, int count, int object_size, int extension);
void* XAR_EXTEND(void* p_xar, int n);
int XAR_PRE_RELOC(void* header, int n);
void* XAR_APPEND(void* p_xar, int n, const void* src);
void* XAR_SHRINK(void* p_xar, int n);
int XAR_RESIZE(void* p_xar, int n);
int XAR_COUNT(const void* p_xar);
void* XAR_LAST(const void* p_xar);
void XAR_PARAMS(const void* p_xar, int* object_size, int* extension, int* count, int* max_count);
void* XAR_REPLICATE(void* p_xar, int from, int to);
void XAR_FREE(void* p_xar);

// ---- element operations ----
void xar_alloc_or_resize(void* p_xar, int n, int object_size, int extension);
void* xar_alloc_or_extend(void* p_xar, int n, int object_size, int extension);
void* xar_alloc_or_append(void* p_xar, int n, int object_size, int extension, const void* src);
void* xar_insert(void* p_xar, int index, int n, const void* src);
void* xar_remove(void* p_xar, int index, int n);
void* xar_delete(void* p_xar, int index, int n, void* dst);
void xar_swap(void* xar, int i, int j);
void xar_reverse(void* xar);
void xar_append_copies(void* p_xar, int n, const void* object);
void xar_concat(void* p_xar, const void* src);
void xar_inject(void* p_xar, const void* src, int index);
// p_src is the address of the source's owner pointer; the copy is also stored through p_dst when
// that is not null.
void* xar_copy(const void* p_src, void* p_dst);
void xar_copy_as(const void* p_src, int object_size, int extension, void* p_dst);
void xar_from_array(const void* src, int count, int object_size, int extension, void* p_dst);
// Sorts the objects in place with sort_array (compare receives two object addresses); the count.
int xar_sort(void* p_xar, int (*compare)(const void*, const void*));
int xar_is_invalid(const void* p_xar);
int xar_max_count(int object_size);

// ---- plain arrays with a separate count ----
void* arr_insert(void* buffer, int object_size, int* count, int index, int n, const void* src);
void* arr_delete(void* buffer, int object_size, int* count, int index, int n, void* dst);
int arr_reverse(void* buffer, int n, int object_size);
int arr_rotate(void* buffer, int object_size, int k, int n);

// ---- zones: arenas in which xarrays can live ----
int xar_zone_create(int chunk_size);
void xar_zone_destroy(int zone);
int xar_zone_reset(int zone, int clear);
int xar_zone_clear(int zone);
void* xar_zone_alloc(int zone, int size);
int xar_zone_chunk_size(int zone);

// ---- persistent-memory support ----
void pmm_xar_clear_zone(void* p_xar);
int pmm_xar_hdr_size(void);
int pmm_xar_body_size(const void* p_xar);
int pmm_xar_sizeof_compact_copy(const void* p_xar);
int pmm_xar_compact_copy(const void* p_xar, void* buffer, int length);

// ---- debugging ----
int debug_xar_hdr_memusage(const void* p_xar, int* object_size, int* count, int* capacity,
                           int* overhead);
// Reads from a block start (the header address, not the user pointer); 0 when a magic is wrong.
int xar_hdr_params(const void* header, int* object_size, int* count, int* capacity);
// 1 when the heap block at `header`, of `block_size` user bytes, holds a sound xarray: its
// units fill the block exactly and both magics are right. Reads nothing outside the block.
int xar_heap_block_ok(const void* header, int block_size);

// ---- settings ----
void xar_set_ignore_ext(int on);
int xar_ignore_ext(void);
void xar_set_ignore_reloc_cnt(int on);
int xar_ignore_reloc_cnt(void);

KEL_END_C
