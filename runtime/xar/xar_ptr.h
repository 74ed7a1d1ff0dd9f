// Pointer, structure and string xarrays: xarrays whose objects own further memory.
//
// A pointer xarray holds 4-byte pointers, each null or a getmem block the array owns. A structure
// xarray holds structures whose owned memory two caller callbacks describe: `free` releases what
// one structure owns (not the structure), `copy` fills a destination structure from a source. A
// string xarray is a pointer xarray of getmem strings.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C

typedef void (*xar_ptr_fn)(void* pointer);           // receives a pointer's value
typedef void* (*xar_ptr_create_fn)(void* unused);    // called with null, returns a new object
typedef void* (*xar_ptr_copy_fn)(void* pointer);     // returns a copy of the object
typedef int (*xar_ptr_release_fn)(void* p_pointer);  // receives the address of a copy of a pointer
typedef void (*xar_str_free_fn)(void* object);
typedef void (*xar_str_copy_fn)(const void* from, void* to);

enum { STR_MAX_SIZE = 20480 };  // largest single structure str_alloc_or_copy takes

// ---- pointer xarrays ----
void xar_ptr_alloc_or_resize(void* p_xar, int n, int extension, xar_ptr_create_fn create,
                             xar_ptr_fn free_offsprings);
void xar_ptr_free_offsprings(void* p_xar, xar_ptr_fn free_offsprings);
void xar_ptr_free(void* p_xar, xar_ptr_fn free_offsprings);
void xar_ptr_clear_with(void* p_xar, xar_ptr_release_fn release);
void xar_ptr_clear(void* p_xar);
void xar_ptr_free_with(void* p_xar, xar_ptr_release_fn release);
void xar_ptr_free_all(void* p_xar);
void xar_ptr_remove_with(void* p_xar, int index, int n, xar_ptr_release_fn release);
void xar_ptr_remove(void* p_xar, int index, int n);
void* xar_ptr_dup(const void* src, xar_ptr_copy_fn copy);
void* xar_ptr_deep_copy(const void* src, int size);
void xar_ptr_each_clear(void* p_xar, xar_ptr_fn fn);
void xar_ptr_each_free(void* p_xar, xar_ptr_fn fn);
void xar_xar_free(void* p_xar);
int release_and_null(void* p_pointer);

// ---- structure xarrays ----
void* str_alloc_or_copy(const void* from, void* to, int size);
void xar_str_alloc_or_resize(void* p_xar, int n, int object_size, int extension,
                             xar_str_free_fn free);
void xar_str_free(void* p_xar, xar_str_free_fn free);
void xar_str_delete(void* p_xar, int index, int n, xar_str_free_fn free);
void* xar_str_copy(const void* p_from, void* p_to, xar_str_free_fn free, xar_str_copy_fn copy);
void* array_to_xar_str_copy(const void* from, void* p_to, int count, int object_size, int extension,
                            xar_str_free_fn free, xar_str_copy_fn copy);

// ---- string xarrays ----
void resize_string_xarray(void* p_xar, int n);
void free_string_xarray(void* p_xar);
int set_string_xarray(const char* const* strings, int n, void* p_xar);

KEL_END_C
