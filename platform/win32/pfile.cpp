#include "platform/pfile.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <windows.h>

#include "platform/pfile_seam.h"
#include "platform/win32/win_errno.h"

namespace {

HANDLE as_handle(platform_fh handle) { return reinterpret_cast<HANDLE>(handle); }

int fail_with_last_error() {
  errno = platform_errno_from_win32(GetLastError());
  return 0;
}

}  // namespace

int platform_errno_from_win32(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NO_MORE_FILES: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_BUSY:
    case ERROR_PATH_BUSY: return EBUSY;
    case ERROR_POSSIBLE_DEADLOCK: return EDEADLK;
    case ERROR_NOT_LOCKED: return ENOLCK;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT: return EIO;
    case ERROR_SEEK_ON_DEVICE: return ESPIPE;
    default: return EINVAL;
  }
}

int platform_file_open(const char* path, int access, int creation, platform_fh* handle) {
  *handle = PLATFORM_NULL_FH;
  if (!path) {
    errno = EFAULT;
    return 0;
  }
  if (platform_seam::refuse()) return 0;
  DWORD desired = (access & PLATFORM_FILE_READ ? GENERIC_READ : 0) |
                  (access & PLATFORM_FILE_WRITE ? GENERIC_WRITE : 0);
  DWORD rule = creation == PLATFORM_OPEN_ALWAYS     ? OPEN_ALWAYS
               : creation == PLATFORM_CREATE_ALWAYS ? CREATE_ALWAYS
                                                    : CREATE_NEW;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE h = CreateFileA(path, desired, 0, &inherit, rule, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail_with_last_error();
  *handle = reinterpret_cast<platform_fh>(h);
  platform_seam::opened(1);
  return 1;
}

int platform_file_read(platform_fh handle, void* buffer, int size, int* got) {
  DWORD n = 0;
  *got = 0;
  if (platform_seam::refuse()) return 0;
  if (!ReadFile(as_handle(handle), buffer, (DWORD)size, &n, nullptr)) return fail_with_last_error();
  *got = (int)n;
  return 1;
}

int platform_file_write(platform_fh handle, const void* data, int size, int* written) {
  *written = 0;
  if (platform_seam::refuse()) return 0;
  const char* p = static_cast<const char*>(data);
  int done = 0;
  while (done < size) {
    DWORD n = 0;
    if (!WriteFile(as_handle(handle), p + done, (DWORD)(size - done), &n, nullptr) || n == 0) {
      *written = done + (int)n;
      return n == 0 && GetLastError() == ERROR_SUCCESS ? (errno = EIO, 0) : fail_with_last_error();
    }
    done += (int)n;
  }
  *written = done;
  return 1;
}

int platform_file_seek(platform_fh handle, int64_t offset, int origin, int64_t* position) {
  DWORD method = origin == PLATFORM_SEEK_CUR   ? FILE_CURRENT
                 : origin == PLATFORM_SEEK_END ? FILE_END
                                               : FILE_BEGIN;
  LARGE_INTEGER distance, at;
  distance.QuadPart = offset;
  if (GetFileType(as_handle(handle)) != FILE_TYPE_DISK) {
    errno = ESPIPE;
    return 0;
  }
  if (!SetFilePointerEx(as_handle(handle), distance, &at, method)) return fail_with_last_error();
  if (position) *position = at.QuadPart;
  return 1;
}

int platform_file_truncate(platform_fh handle, int64_t length) {
  if (!platform_file_seek(handle, length, PLATFORM_SEEK_SET, nullptr)) return 0;
  if (!SetEndOfFile(as_handle(handle))) return fail_with_last_error();
  return 1;
}

// A refused close closes all the same (see platform_io_fail_after).
int platform_file_close(platform_fh handle) {
  const bool refused = platform_seam::refuse();
  const int error = errno;
  const BOOL closed = CloseHandle(as_handle(handle));
  platform_seam::opened(-1);
  if (refused) {
    errno = error;
    return 0;
  }
  return closed ? 1 : fail_with_last_error();
}

int platform_pipe(platform_fh* read_end, platform_fh* write_end) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE r, w;
  if (!CreatePipe(&r, &w, &inherit, 0)) return fail_with_last_error();
  *read_end = reinterpret_cast<platform_fh>(r);
  *write_end = reinterpret_cast<platform_fh>(w);
  platform_seam::opened(2);
  return 1;
}

int platform_getcwd(char* out, int size) {
  DWORD n = GetCurrentDirectoryA((DWORD)size, out);
  if (n == 0) return fail_with_last_error();
  if (n >= (DWORD)size) {
    errno = ERANGE;
    return 0;
  }
  return 1;
}

FILE* platform_path_fopen(const char* path, const char* mode) {
  if (!path || platform_seam::refuse()) return nullptr;
  FILE* stream = fopen(path, mode);
  if (stream) platform_seam::opened(1);
  return stream;
}

int platform_path_access(const char* path, int mode) { return path ? _access(path, mode & 6) : -1; }

int platform_path_open(const char* path, int flags, int permission) {
  if (!path || platform_seam::refuse()) return -1;
  const int fd = _open(path, flags | _O_BINARY, permission);
  if (fd >= 0) platform_seam::opened(1);
  return fd;
}

int platform_fd_close(int fd) {
  const bool refused = platform_seam::refuse();
  const int error = errno;
  const bool closed = _close(fd) == 0;
  platform_seam::opened(-1);
  if (refused) errno = error;
  return closed && !refused;
}

int platform_path_rename(const char* from, const char* to) {
  if (!from || !to) {
    errno = EFAULT;
    return 0;
  }
  if (platform_seam::refuse()) return 0;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 1 : fail_with_last_error();
}

int platform_path_remove(const char* path) {
  if (!path) {
    errno = EFAULT;
    return 0;
  }
  if (platform_seam::refuse()) return 0;
  return DeleteFileA(path) ? 1 : fail_with_last_error();
}

namespace {
bool is_dot_entry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }
}  // namespace

int platform_dir_open(platform_dir* dir, const char* path) {
  dir->handle = 0;
  dir->pending = 0;
  if (!path || platform_seam::refuse()) return 0;
  size_t length = strlen(path);
  char pattern[MAX_PATH + 3];
  if (length + 3 > sizeof pattern) {
    errno = ENAMETOOLONG;
    return 0;
  }
  memcpy(pattern, path, length);
  if (length && path[length - 1] != '\\' && path[length - 1] != '/') pattern[length++] = '\\';
  pattern[length++] = '*';
  pattern[length] = 0;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == INVALID_HANDLE_VALUE) return fail_with_last_error();
  dir->handle = reinterpret_cast<intptr_t>(h);
  platform_seam::opened(1);
  size_t n = strlen(found.cFileName);
  memcpy(dir->name, found.cFileName, n < sizeof dir->name ? n + 1 : 1);
  dir->pending = 1;
  return 1;
}

const char* platform_dir_next(platform_dir* dir) {
  if (!dir->handle) return nullptr;
  if (dir->pending) {
    dir->pending = 0;
    if (!is_dot_entry(dir->name)) return dir->name;
  }
  WIN32_FIND_DATAA found;
  while (FindNextFileA(reinterpret_cast<HANDLE>(dir->handle), &found)) {
    if (is_dot_entry(found.cFileName)) continue;
    size_t n = strlen(found.cFileName);
    if (n >= sizeof dir->name) continue;
    memcpy(dir->name, found.cFileName, n + 1);
    return dir->name;
  }
  return nullptr;
}

void platform_dir_close(platform_dir* dir) {
  if (dir->handle) {
    FindClose(reinterpret_cast<HANDLE>(dir->handle));
    platform_seam::opened(-1);
  }
  dir->handle = 0;
}
