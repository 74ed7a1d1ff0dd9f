// What both implementations of the platform file layer share: the I/O failure seam
// (platform_io_fail_after and its siblings) and the stream calls, which are the C library's.
#include <errno.h>

#include "platform/pfile.h"

#include "platform/fileattr.h"
#include "platform/pfile_seam.h"

namespace {

struct Seam {
  int budget = -1;    // successful calls left before the next one fails; -1: none fails
  int error = 0;      // the errno a failing call sets
  bool once = false;  // only the one call fails; later calls succeed again
  int calls = 0;      // calls counted since the hook was last set
  int handles = 0;    // handles and streams open through this layer
};
Seam seam;

void arm(int n, int error, bool once) {
  seam.budget = n < 0 ? -1 : n;
  seam.error = error;
  seam.once = once;
  seam.calls = 0;
}

}  // namespace

namespace platform_seam {

bool refuse() {
  ++seam.calls;
  if (seam.budget < 0) return false;
  if (seam.budget > 0) {
    --seam.budget;
    return false;
  }
  if (seam.once) seam.budget = -1;
  errno = seam.error;
  return true;
}

void opened(int n) { seam.handles += n; }

}  // namespace platform_seam

void platform_io_fail_after(int n, int error) { arm(n, error, false); }
void platform_io_fail_once(int n, int error) { arm(n, error, true); }
int platform_io_calls(void) { return seam.calls; }
int platform_io_open_handles(void) { return seam.handles; }

int platform_stream_write(FILE* stream, const void* data, int size) {
  if (platform_seam::refuse()) return 0;
  return size <= 0 || fwrite(data, 1, (size_t)size, stream) == (size_t)size;
}

int platform_stream_vprintf(FILE* stream, const char* format, va_list args) {
  if (platform_seam::refuse()) return 0;
  return vfprintf(stream, format, args) >= 0;
}

int platform_stream_flush(FILE* stream) {
  if (platform_seam::refuse()) return 0;
  return fflush(stream) == 0;
}

int platform_stream_close(FILE* stream) {
  // The flush that the close does is counted as a flush of its own.
  const bool flushed = platform_stream_flush(stream) != 0;
  const bool refused = platform_seam::refuse();
  const int error = errno;
  const bool failed_before = ferror(stream) != 0;
  errno = 0;
  const bool closed = fclose(stream) == 0;
  platform_seam::opened(-1);
  if (refused || !flushed) {
    errno = error;
    return 0;
  }
  // A write that failed earlier is reported here when the close itself went well.
  if (closed && failed_before) errno = EIO;
  return closed && !failed_before;
}

int platform_path_replaceable(const char* path) {
  const uint32_t attributes = platform_file_attributes(path);
  return attributes == PLATFORM_INVALID_FILE_ATTRIBUTES ||
         !(attributes & (PLATFORM_FILE_ATTRIBUTE_DIRECTORY | PLATFORM_FILE_ATTRIBUTE_READONLY |
                         PLATFORM_FILE_ATTRIBUTE_DEVICE));
}
