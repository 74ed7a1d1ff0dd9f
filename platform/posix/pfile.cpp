#include "platform/pfile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/pfile_seam.h"

// Built with 64-bit file offsets (_FILE_OFFSET_BITS=64 on the whole project): open, lseek, fstat,
// stat, readdir and fopen are the large-file calls.
static_assert(sizeof(off_t) == 8, "the file layer needs 64-bit offsets");

namespace {

// Backslashes separate components, as they do for the Windows calls. 0 (ENAMETOOLONG) when the
// path does not fit.
int native_path(const char* path, char (&native)[PATH_MAX]) {
  if (!path) {
    errno = EFAULT;
    return 0;
  }
  size_t length = strlen(path);
  if (length >= sizeof native) {
    errno = ENAMETOOLONG;
    return 0;
  }
  for (size_t i = 0; i <= length; ++i) native[i] = path[i] == '\\' ? '/' : path[i];
  return 1;
}

// A write to a pipe whose reader has gone fails with EPIPE instead of ending the process, as
// on Windows. A handler the program installed itself is left in place.
void ignore_sigpipe() {
  static bool done = false;
  if (done) return;
  done = true;
  struct sigaction current;
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int platform_file_open(const char* path, int access, int creation, platform_fh* handle) {
  char native[PATH_MAX];
  *handle = PLATFORM_NULL_FH;
  if (!native_path(path, native) || platform_seam::refuse()) return 0;
  int flags = (access & PLATFORM_FILE_READ) && (access & PLATFORM_FILE_WRITE) ? O_RDWR
              : (access & PLATFORM_FILE_WRITE)                                ? O_WRONLY
                                                                              : O_RDONLY;
  switch (creation) {
    case PLATFORM_OPEN_ALWAYS: flags |= O_CREAT; break;
    case PLATFORM_CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case PLATFORM_CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    default: errno = EINVAL; return 0;
  }
  // No O_CLOEXEC: the descriptor stays inheritable, as the Windows handle is.
  int fd = open(native, flags, 0666);
  if (fd < 0) return 0;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    errno = EISDIR;
    return 0;
  }
  *handle = fd;
  platform_seam::opened(1);
  return 1;
}

int platform_file_read(platform_fh handle, void* buffer, int size, int* got) {
  *got = 0;
  if (platform_seam::refuse()) return 0;
  ssize_t n;
  do n = read((int)handle, buffer, (size_t)size);
  while (n < 0 && errno == EINTR);
  if (n < 0) return 0;
  *got = (int)n;
  return 1;
}

int platform_file_write(platform_fh handle, const void* data, int size, int* written) {
  *written = 0;
  if (platform_seam::refuse()) return 0;
  ignore_sigpipe();
  const char* p = static_cast<const char*>(data);
  int done = 0;
  while (done < size) {
    ssize_t n = write((int)handle, p + done, (size_t)(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      *written = done;
      return 0;
    }
    done += (int)n;
  }
  *written = done;
  return 1;
}

int platform_file_seek(platform_fh handle, int64_t offset, int origin, int64_t* position) {
  int whence = origin == PLATFORM_SEEK_CUR   ? SEEK_CUR
               : origin == PLATFORM_SEEK_END ? SEEK_END
                                             : SEEK_SET;
  off_t at = lseek((int)handle, (off_t)offset, whence);
  if (at == (off_t)-1) return 0;
  if (position) *position = at;
  return 1;
}

int platform_file_truncate(platform_fh handle, int64_t length) {
  if (lseek((int)handle, (off_t)length, SEEK_SET) == (off_t)-1) return 0;
  return ftruncate((int)handle, (off_t)length) == 0;
}

// A refused close closes all the same (see platform_io_fail_after).
int platform_file_close(platform_fh handle) { return platform_fd_close((int)handle); }

int platform_pipe(platform_fh* read_end, platform_fh* write_end) {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  *read_end = fds[0];
  *write_end = fds[1];
  platform_seam::opened(2);
  return 1;
}

int platform_getcwd(char* out, int size) { return getcwd(out, (size_t)size) != nullptr; }

FILE* platform_path_fopen(const char* path, const char* mode) {
  char native[PATH_MAX];
  if (!native_path(path, native) || platform_seam::refuse()) return nullptr;
  FILE* stream = fopen(native, mode);
  if (stream) platform_seam::opened(1);
  return stream;
}

int platform_path_access(const char* path, int mode) {
  char native[PATH_MAX];
  if (!native_path(path, native)) return -1;
  int how = (mode & 2 ? W_OK : 0) | (mode & 4 ? R_OK : 0);
  return access(native, how ? how : F_OK);
}

int platform_path_open(const char* path, int flags, int permission) {
  char native[PATH_MAX];
  if (!native_path(path, native) || platform_seam::refuse()) return -1;
  const int fd = open(native, flags, permission);
  if (fd >= 0) platform_seam::opened(1);
  return fd;
}

int platform_fd_close(int fd) {
  const bool refused = platform_seam::refuse();
  const int error = errno;
  const bool closed = close(fd) == 0;
  platform_seam::opened(-1);
  if (refused) errno = error;
  return closed && !refused;
}

int platform_path_rename(const char* from, const char* to) {
  char native_from[PATH_MAX], native_to[PATH_MAX];
  if (!native_path(from, native_from) || !native_path(to, native_to)) return 0;
  return !platform_seam::refuse() && rename(native_from, native_to) == 0;
}

int platform_path_remove(const char* path) {
  char native[PATH_MAX];
  return native_path(path, native) && !platform_seam::refuse() && unlink(native) == 0;
}

int platform_dir_open(platform_dir* dir, const char* path) {
  char native[PATH_MAX];
  dir->handle = 0;
  dir->pending = 0;
  if (!native_path(path, native) || platform_seam::refuse()) return 0;
  DIR* d = opendir(native[0] ? native : ".");
  if (!d) return 0;
  dir->handle = (intptr_t)d;
  platform_seam::opened(1);
  return 1;
}

const char* platform_dir_next(platform_dir* dir) {
  DIR* d = (DIR*)dir->handle;
  if (!d) return nullptr;
  while (struct dirent* entry = readdir(d)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    size_t length = strlen(name);
    if (length >= sizeof dir->name) continue;  // no Windows name is that long
    memcpy(dir->name, name, length + 1);
    return dir->name;
  }
  return nullptr;
}

void platform_dir_close(platform_dir* dir) {
  if (dir->handle) {
    closedir((DIR*)dir->handle);
    platform_seam::opened(-1);
  }
  dir->handle = 0;
}
