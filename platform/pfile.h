// Files, pipes, the current directory and directory listings, as the portable file layer and the
// versioned names need them. Paths use a backslash between components on every platform (a
// slash is accepted too). Failures set errno to the standard library's symbolic error
// (ENOENT, EACCES, ...), translated from the system's own error on Windows.
#pragma once
#include <stdarg.h>
#include <stdio.h>
#include "platform/kel_base.h"

KEL_BEGIN_C
// A file or pipe handle: a HANDLE on Windows, a descriptor elsewhere.
typedef intptr_t platform_fh;
#define PLATFORM_NULL_FH ((platform_fh)-1)

// Desired access bits.
enum { PLATFORM_FILE_READ = 1, PLATFORM_FILE_WRITE = 2 };
// Creation rules of the file creation call.
enum {
  PLATFORM_OPEN_ALWAYS = 1,    // open, creating the file if missing
  PLATFORM_CREATE_ALWAYS = 2,  // create, replacing an existing file
  PLATFORM_CREATE_NEW = 3,     // create only if the file does not exist
};
// Seek origins.
enum { PLATFORM_SEEK_SET = 0, PLATFORM_SEEK_CUR = 1, PLATFORM_SEEK_END = 2 };

// Opens `path` with the access bits (0 for none) and creation rule: no sharing, an inheritable
// handle, normal attributes. 1 and the handle, or 0.
int platform_file_open(const char* path, int access, int creation, platform_fh* handle);
// One read of at most `size` bytes: 1 and the count (0 at the end), or 0. A pipe whose writer
// has gone fails with EPIPE.
int platform_file_read(platform_fh handle, void* buffer, int size, int* got);
// Writes `size` bytes: 1 when all were written, else 0; `written` gets the count written.
int platform_file_write(platform_fh handle, const void* data, int size, int* written);
// Moves the position; 1 and the new position (may be null), or 0. Offsets are 64-bit: files of
// 2 GiB and more are read, written and positioned like any other.
int platform_file_seek(platform_fh handle, int64_t offset, int origin, int64_t* position);
// Moves the position to `length` and ends the file there: 1, or 0.
int platform_file_truncate(platform_fh handle, int64_t length);
// Closes the handle: 1, or 0 (the handle is gone either way).
int platform_file_close(platform_fh handle);
// An anonymous pipe with inheritable ends: 1, or 0.
int platform_pipe(platform_fh* read_end, platform_fh* write_end);

// The current directory in the system's own form: 1, or 0 (ERANGE when it does not fit `size`).
int platform_getcwd(char* out, int size);

// The standard library's fopen, access and open of a path with backslash separators, files of
// any size. access modes: 0 exists, 2 writable, 4 readable. open takes the C library's own flags
// of this platform (<fcntl.h>) unchanged and adds the binary flag where there is one.
FILE* platform_path_fopen(const char* path, const char* mode);
int platform_path_access(const char* path, int mode);
int platform_path_open(const char* path, int flags, int permission);
int platform_fd_close(int fd);

// Renames `from` to `to`, replacing a file `to` in one step: 1, or 0 (nothing changed).
int platform_path_rename(const char* from, const char* to);
// Removes the file: 1, or 0.
int platform_path_remove(const char* path);
// 1 when `path` names a plain file that may be written, or nothing yet: a writer may then replace
// it by a sibling renamed over it once whole. 0 for a folder, a device, a pipe, a read-only file.
int platform_path_replaceable(const char* path);

// A stream from platform_path_fopen: writes `size` bytes (1, or 0 with the stream's error set
// where the library sets it), writes formatted text as vfprintf does (1 or 0), flushes it (1 or
// 0), flushes and closes it (1, or 0 when the flush or the close failed or any earlier write on
// the stream failed; the stream is gone either way). A failed write or flush of the failure seam
// leaves the stream's error flag as it was: callers keep the results of their writes.
int platform_stream_write(FILE* stream, const void* data, int size);
int platform_stream_vprintf(FILE* stream, const char* format, va_list args);
int platform_stream_flush(FILE* stream);
int platform_stream_close(FILE* stream);

// A directory listing yielding entry names ("." and ".." left out). The record lives with the
// caller; the system part is released by platform_dir_close.
typedef struct platform_dir {
  intptr_t handle;
  int pending;  // Windows: the first entry is already in `name`
  char name[260];
} platform_dir;
int platform_dir_open(platform_dir* dir, const char* path);
// The next entry name (valid until the next call), or null at the end.
const char* platform_dir_next(platform_dir* dir);
void platform_dir_close(platform_dir* dir);

// The I/O failure seam, for the tests, as mem_backing_fail_after is for memory. The calls of this
// layer that open (platform_file_open, platform_path_fopen, platform_path_open, platform_dir_open),
// read, write (platform_file_write, platform_stream_write, platform_stream_vprintf), flush, close
// (platform_file_close, platform_fd_close, platform_stream_close), rename or remove are counted.
// After `n` more successful calls, platform_io_fail_after makes every such call fail with errno
// `error` until platform_io_fail_after(-1, 0) (the default, never failing); platform_io_fail_once
// fails only the one call. A failing call does nothing, except a close, which closes and then
// reports the failure, as a system's close does when it reports an earlier write's error.
void platform_io_fail_after(int n, int error);
void platform_io_fail_once(int n, int error);
// Calls counted since the hook was last set.
int platform_io_calls(void);
// Handles, descriptors, streams and listings opened through this layer and not yet closed.
int platform_io_open_handles(void);
KEL_END_C
