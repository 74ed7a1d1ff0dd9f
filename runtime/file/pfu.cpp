// Buffered file records over disk files, pipes and sockets.
#include <errno.h>
#include <limits.h>
#include <string.h>

#include "platform/stream_socket.h"
#include "runtime/diag/diag.h"
#include "runtime/diag/trap.h"
#include "runtime/file/pfu.h"
#include "runtime/mem/mem.h"
#include "runtime/text/wstr.h"
#include "runtime/xar/xar.h"

namespace {

constexpr int kStackArea =
    8192;  // text conversions and direct text reads up to this size use the stack
constexpr int kCopyPiece = 512;  // pfu_fcopy moves at most this much per read
constexpr char kEndOfText = 4;   // Ctrl-D ends a text sent over a stream

PF_File_Ptr* open_files = nullptr;  // the open-file list (xarray), while switched on

bool have_file(PF_File_Ptr file, const char* where) {
  if (file) return true;
  report_fatal(where, "NULL PF_File_Ptr");
  return false;
}

bool readable(PF_File_Ptr file, const char* where) {
  if (file->access & PFU_Readable) return true;
  report_fatal(where, "read from a file which is not read-open.");
  return false;
}

bool writable(PF_File_Ptr file, const char* where) {
  if (file->access & PFU_Writable) return true;
  report_fatal(where, "write to a file which is not write-open.");
  return false;
}

// Text written out: every CR dropped, every LF as CR LF. `out` holds 2n bytes.
int text_to_disk(const char* data, int n, char* out) {
  int length = 0;
  for (int i = 0; i < n; ++i) {
    if (data[i] == '\r') continue;
    if (data[i] == '\n') out[length++] = '\r';
    out[length++] = data[i];
  }
  return length;
}

// Hands buffered bytes to the reader (text drops every CR); the count delivered.
int deliver(PF_File_Ptr file, char* out, int want) {
  if (file->kind == PFU_Binary) {
    const int k = want < file->buffered ? want : file->buffered;
    memcpy(out, file->buffer + file->offset, (size_t)k);
    file->offset += k;
    file->buffered -= k;
    return k;
  }
  int delivered = 0;
  while (delivered < want && file->buffered > 0) {
    const char c = file->buffer[file->offset++];
    --file->buffered;
    if (c != '\r') out[delivered++] = c;
  }
  return delivered;
}

// Unbuffered read of a request larger than half the buffer (or of any request without a
// buffer). Binary: one read straight into the caller's buffer. Text, whatever the file type:
// repeated reads through an intermediate area with every CR dropped, until the request is met or
// a read does not succeed, so that no call returns converted and raw text mixed.
int read_direct(PF_File_Ptr file, int n, int* got, char* out) {
  if (file->kind == PFU_Binary) return pfu_read_internal(file, n, got, out);
  char stack_area[kStackArea];
  char* area = n > kStackArea ? static_cast<char*>(getmem(n)) : stack_area;
  int status = area ? PFU_SUCCESS : PFU_OUT_OF_MEMORY;
  int delivered = 0;
  while (area && delivered < n) {
    int k = 0;
    status = pfu_read_internal(file, n - delivered, &k, area);
    if (status != PFU_SUCCESS) break;
    for (int i = 0; i < k; ++i)
      if (area[i] != '\r') out[delivered++] = area[i];
  }
  if (area != stack_area) rlsmem(area);
  *got = delivered;
  return status;
}

void dbg_list_remove(PF_File_Ptr file) {
  const int count = XAR_COUNT(&open_files);
  for (int i = 0; i < count; ++i) {
    if (open_files[i] == file) {
      xar_remove(&open_files, i, 1);
      return;
    }
  }
  report_fatal("pfu_remove_from_dbg_list", "open file is not in dbg. list.");
}

// Releases what a half-made open holds when a trap leaves it: the handle (args[0] points at it)
// the blocks whose pointers args[1] to args[3] point at, and the record (with its blocks, but not
// its handle) that args[4] points at.
void release_half_open(intptr_t handle, intptr_t block1, intptr_t block2, intptr_t block3,
                       intptr_t record, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                       intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
  auto* h = reinterpret_cast<platform_fh*>(handle);
  if (h && *h != PF_NULL_Handle) platform_file_close(*h);
  const intptr_t blocks[3] = {block1, block2, block3};
  for (intptr_t block : blocks) {
    auto* p = reinterpret_cast<void**>(block);
    if (p && *p) rlsmem(*p);
  }
  auto* r = reinterpret_cast<PF_File_Ptr*>(record);
  if (r && *r) {
    rlsmem((*r)->buffer);
    rlsmem((*r)->path);
    rlsmem(*r);
  }
}

// Registers release_half_open on the innermost trap frame; 1 when it must be dropped later.
int guard_half_open(platform_fh* handle, void** a, void** b, void** c, PF_File_Ptr* record) {
  const intptr_t args[16] = {reinterpret_cast<intptr_t>(handle), reinterpret_cast<intptr_t>(a),
                             reinterpret_cast<intptr_t>(b), reinterpret_cast<intptr_t>(c),
                             reinterpret_cast<intptr_t>(record)};
  return trap_cleanup_add(release_half_open, args);
}

}  // namespace

void pfu_fdopen(platform_fh handle, int socket, const char* path, int access, int type, int kind,
                int buffer_size, PF_File_Ptr* file) {
  if (type == PFU_INET_Socket && handle != PF_NULL_Handle)
    report_fatal("pfu_fdopen", "h_file != PF_NULL_Handle, while type = PFU_INET_Socket");
  if (type != PFU_INET_Socket && socket != PF_NULL_Descriptor)
    report_fatal("pfu_fdopen", "h_file != PF_NULL_Descriptor, while type != PFU_INET_Socket");
  // Every block is taken before the record is filled; a trap in between releases them.
  void* record = nullptr;
  void* buffer = nullptr;
  void* path_copy = nullptr;
  const int guarded = guard_half_open(nullptr, &record, &buffer, &path_copy, nullptr);
  if (buffer_size > 0) buffer = getmem(buffer_size);
  if (path) path_copy = getmem((int)strlen(path) + 1);
  record = getmem(sizeof(PF_File));
  if (guarded) trap_cleanup_drop();
  if (!record || (buffer_size > 0 && !buffer) || (path && !path_copy)) {
    rlsmem(record);
    rlsmem(buffer);
    rlsmem(path_copy);
    *file = nullptr;
    return;
  }
  PF_File_Ptr f = static_cast<PF_File_Ptr>(record);
  f->type = type;
  f->kind = kind;
  f->path = static_cast<char*>(path_copy);
  if (path) strcpy(f->path, path);
  f->access = access;
  f->buffer = static_cast<char*>(buffer);
  f->buffered = f->offset = 0;
  f->buffer_size = buffer_size > 0 ? buffer_size : 0;
  f->state = PFU_State_Neutral;
  f->handle = handle;
  f->socket = socket;
  *file = f;
}

int pfu_fopen(const char* name, int access, int kind, int buffer_size, PF_File_Ptr* file) {
  char local[PFU_PATH_MAX] = "";
  if (file) *file = nullptr;
  WSTRCOPY_X(local, name ? name : "", PFU_PATH_MAX);
  pfu_path_convert_separators(local, PFU_Backslash_Form);
  if (kind != PFU_Text && kind != PFU_Binary) {
    report_fatal("pfu_fopen", "Not text or binary file.");
    return PFU_TRAP;
  }
  int desired = 0, creation = 0;
  switch (access) {
    case 1:
    case 2:
    case 3:
    case 10:
    case 11:
      desired = access & 3;
      creation = PLATFORM_OPEN_ALWAYS;
      break;
    case 6:
    case 7:
      desired = access & 3;
      creation = PLATFORM_CREATE_ALWAYS;
      break;
    case 16:
      desired = 0;
      creation = PLATFORM_CREATE_NEW;
      break;
    default: report_fatal("pfu_fopen", "bad access %d", access); return PFU_TRAP;
  }
  if (!file && access != 16) {
    report_fatal("pfu_fopen", "NULL PF_File_Ptr");
    return PFU_TRAP;
  }
  // The path is formed and the record made before anything is opened: a refusal then touches no
  // file (access 6 and 7 would already have emptied it, the others created it). The guard is in
  // place before the handle exists, so a trap never leaves it open.
  char full[PFU_PATH_MAX];
  platform_fh handle = PF_NULL_Handle;
  PF_File_Ptr record = nullptr;
  int status = access == 16 ? PFU_SUCCESS : pfu_full_path(local, full);
  if (status != PFU_SUCCESS) return status;
  const int guarded = guard_half_open(&handle, nullptr, nullptr, nullptr, &record);
  bool listed = false;
  if (access != 16) {
    pfu_fdopen(PF_NULL_Handle, PF_NULL_Descriptor, full, access, PFU_Disk_File, kind, buffer_size,
               &record);
    if (!record)
      status = PFU_OUT_OF_MEMORY;
    else if (open_files && !xar_alloc_or_append(&open_files, 1, sizeof(PF_File_Ptr), 8, &record))
      status = PFU_OUT_OF_MEMORY;
    else
      listed = open_files != nullptr;
  }
  if (status == PFU_SUCCESS && !platform_file_open(local, desired, creation, &handle))
    status = pfu_errno_status();
  if (guarded) trap_cleanup_drop();
  if (status != PFU_SUCCESS) {
    if (listed) dbg_list_remove(record);
    release_half_open(0, 0, 0, 0, reinterpret_cast<intptr_t>(&record), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                      0);
    return status;
  }
  if (access == 16) {
    platform_file_close(handle);
    return PFU_SUCCESS;
  }
  record->handle = handle;
  *file = record;
  if (access == 10 || access == 11) return pfu_fseek(*file, 0, PFU_SEEK_END);
  return PFU_SUCCESS;
}

int pfu_write_internal(PF_File_Ptr file, int n, const void* data, int* written) {
  int count = 0;
  if (written) *written = 0;
  if (!have_file(file, "pfu_write_internal")) return PFU_TRAP;
  if (!writable(file, "pfu_write_internal")) return PFU_TRAP;
  const int ok = file->type == PFU_INET_Socket ? platform_socket_send(file->socket, data, n, &count)
                                               : platform_file_write(file->handle, data, n, &count);
  if (written) *written = count < 0 ? 0 : count;
  return ok && count == n ? PFU_SUCCESS : pfu_errno_status();
}

int pfu_read_internal(PF_File_Ptr file, int size, int* got, void* buffer) {
  int count = 0;
  *got = 0;
  if (!have_file(file, "pfu_read_internal")) return PFU_TRAP;
  if (!readable(file, "pfu_read_internal")) return PFU_TRAP;
  const int ok = file->type == PFU_INET_Socket
                     ? platform_socket_recv(file->socket, buffer, size, &count)
                     : platform_file_read(file->handle, buffer, size, &count);
  // A writer that has gone away ends the data like an end of file.
  if (!ok && errno != EPIPE) return pfu_errno_status();
  *got = ok && count > 0 ? count : 0;
  return *got ? PFU_SUCCESS : PFU_EOF;
}

int pfu_fwrite(PF_File_Ptr file, int n, const void* data) {
  if (!have_file(file, "pfu_fwrite")) return PFU_TRAP;
  if (!writable(file, "pfu_fwrite")) return PFU_TRAP;
  if (file->state == PFU_State_Read) {
    report_fatal("pfu_fwrite", "attempt to write after reading without fseek.");
    return PFU_TRAP;
  }
  if (n <= 0) return PFU_SUCCESS;
  const char* bytes = static_cast<const char*>(data);
  // Half the free space: a text conversion at most doubles the length.
  if ((file->buffer_size - file->buffered) / 2 < n) {
    const int status = pfu_fflush(file);
    if (status != PFU_SUCCESS) return status;
  }
  if ((file->buffer_size - file->buffered) / 2 >= n) {
    char* end = file->buffer + file->buffered;
    if (file->kind == PFU_Text) {
      file->buffered += text_to_disk(bytes, n, end);
    } else {
      memcpy(end, bytes, (size_t)n);
      file->buffered += n;
    }
    file->state = PFU_State_Write;
    return PFU_SUCCESS;
  }
  // A direct transfer counts as a write too: reads and writes alternate only through a flush.
  file->state = PFU_State_Write;
  int written = 0;
  if (file->kind == PFU_Binary) return pfu_write_internal(file, n, bytes, &written);
  char stack_area[kStackArea];
  char* area = n <= kStackArea / 2 ? stack_area : static_cast<char*>(getmem(2 * n));
  if (!area) return PFU_OUT_OF_MEMORY;
  const int status = pfu_write_internal(file, text_to_disk(bytes, n, area), area, &written);
  if (area != stack_area) rlsmem(area);
  return status;
}

int pfu_fflush(PF_File_Ptr file) {
  if (!have_file(file, "pfu_fflush")) return PFU_TRAP;
  if (file->state == PFU_State_Neutral) return PFU_SUCCESS;
  int status = PFU_SUCCESS;
  if (file->state == PFU_State_Write && file->buffered > file->offset) {
    int written = 0;
    status = pfu_write_internal(file, file->buffered - file->offset, file->buffer + file->offset,
                                &written);
    file->offset += written;
  } else if (file->state == PFU_State_Read && file->type == PFU_Disk_File && file->buffered > 0) {
    // The read-ahead is dropped: the handle goes back to the logical position, so that what
    // follows (a write, a relative seek) happens where the reader stands.
    if (!platform_file_seek(file->handle, -(int64_t)file->buffered, PLATFORM_SEEK_CUR, nullptr))
      status = pfu_errno_status();
  }
  if (status == PFU_SUCCESS) {
    file->state = PFU_State_Neutral;
    file->buffered = file->offset = 0;
  }
  return status;
}

int pfu_fread(PF_File_Ptr file, int n, int* got, void* buffer) {
  if (got) *got = 0;
  if (!have_file(file, "pfu_fread")) return PFU_TRAP;
  if (!readable(file, "pfu_fread")) return PFU_TRAP;
  if (file->state == PFU_State_Write) {
    report_fatal("pfu_fread", "attempt to read after write without an fseek");
    return PFU_TRAP;
  }
  if (!got || (n > 0 && !buffer)) {
    report_fatal("pfu_fread", "NULL argument");
    return PFU_TRAP;
  }
  if (n <= 0) return PFU_SUCCESS;
  char* out = static_cast<char*>(buffer);
  int total = 0;
  if (file->buffered > 0) {
    total = deliver(file, out, n);
    if (total == n) {
      *got = n;
      return PFU_SUCCESS;
    }
    if (file->buffered != 0) report_fatal("pfu_fread", "logic fault.");
    file->offset = 0;
  }
  const int rest = n - total;
  int count = 0, status;
  if (rest > file->buffer_size / 2) {
    status = read_direct(file, rest, &count, out + total);
    file->state = PFU_State_Read;
    total += count;
  } else {
    status = pfu_read_internal(file, file->buffer_size, &count, file->buffer);
    if (status == PFU_SUCCESS || status == PFU_EOF) {
      file->state = PFU_State_Read;
      file->buffered = count;
      file->offset = 0;
      total += deliver(file, out + total, rest);
    }
  }
  *got = total;
  // As with buffered streams of the C library, a short read that delivered something succeeds;
  // the end of file is reported by the next read.
  if (status == PFU_EOF && total > 0) status = PFU_SUCCESS;
  return status;
}

int pfu_fseek(PF_File_Ptr file, long offset, int origin) {
  if (!have_file(file, "pfu_fseek")) return PFU_TRAP;
  if (file->type != PFU_Disk_File) {
    report_fatal("pfu_fseek", "attempt to seek on pipe");
    return PFU_TRAP;
  }
  if (origin != PFU_SEEK_SET && origin != PFU_SEEK_CUR && origin != PFU_SEEK_END) {
    report_fatal("pfu_fseek", "bad origin %d", origin);
    return PFU_TRAP;
  }
  const int status = pfu_fflush(file);
  if (status != PFU_SUCCESS) return status;
  return platform_file_seek(file->handle, offset, origin, nullptr) ? PFU_SUCCESS
                                                                   : pfu_errno_status();
}

long pfu_ftell(PF_File_Ptr file) {
  if (!have_file(file, "pfu_ftell")) return -1;
  if (file->type != PFU_Disk_File) {
    report_fatal("pfu_ftell", "attempt to call on pipe.");
    return -1;
  }
  int64_t position = 0;
  if (!platform_file_seek(file->handle, 0, PLATFORM_SEEK_CUR, &position)) return -1;
  if (file->state == PFU_State_Read) position -= file->buffered;
  if (file->state == PFU_State_Write) position += file->buffered - file->offset;
  // The result is a long: a position it cannot hold is a failure, never a wrapped value.
  if (position > LONG_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  return (long)position;
}

int pfu_ftruncate(PF_File_Ptr file, long length) {
  if (!have_file(file, "pfu_ftruncate")) return PFU_TRAP;
  if (file->type != PFU_Disk_File && file->type != PFU_Pipe) {
    report_fatal("pfu_ftruncate", "file must be text or binary");
    return PFU_TRAP;
  }
  if (!(file->access & PFU_Writable)) {
    report_fatal("pfu_ftruncate", "file must be open for write");
    return PFU_TRAP;
  }
  // Pending bytes go out first: written after the cut they would land past the new end.
  const int status = pfu_fflush(file);
  if (status != PFU_SUCCESS) return status;
  return platform_file_truncate(file->handle, length) ? PFU_SUCCESS : pfu_errno_status();
}

int pfu_fputc(PF_File_Ptr file, int byte) {
  if (!have_file(file, "pfu_fputc")) return PFU_TRAP;
  const char c = (char)byte;
  return pfu_fwrite(file, 1, &c);
}

int pfu_fputs(PF_File_Ptr file, const char* string) {
  if (!have_file(file, "pfu_fputs")) return PFU_TRAP;
  if (!string) {
    report_fatal("pfu_fputs", "NULL string");
    return PFU_TRAP;
  }
  return pfu_fwrite(file, (int)strlen(string), string);
}

int pfu_fgetc(PF_File_Ptr file, int* byte) {
  unsigned char c = 0;
  int got = 0, status;
  if (!have_file(file, "pfu_fgetc")) return PFU_TRAP;
  // A text buffer holding only CRs delivers nothing: read on.
  do status = pfu_fread(file, 1, &got, &c);
  while (status == PFU_SUCCESS && got == 0);
  if (status == PFU_SUCCESS && byte) *byte = c;
  return status;
}

int pfu_fclose(PF_File_Ptr* file) {
  if (!file || !*file) return PFU_NO_CHANGE;
  PF_File_Ptr f = *file;
  int status = pfu_fflush(f);
  if (!(f->access & PFU_Keep_Handle)) {
    if (f->type == PFU_INET_Socket) {
      if (f->socket != PF_NULL_Descriptor) platform_socket_close(f->socket);
    } else if (f->handle != PF_NULL_Handle && !platform_file_close(f->handle) &&
               status == PFU_SUCCESS) {
      // The close can be the first to tell that written bytes did not reach the file.
      status = pfu_errno_status();
    }
  }
  if (open_files) dbg_list_remove(f);
  rlsmem(f->path);
  rlsmem(f->buffer);
  rlsmem(f);
  *file = nullptr;
  return status;
}

int pfu_fcopy(PF_File_Ptr from, PF_File_Ptr to, int n, int* copied) {
  char piece[kCopyPiece];
  int total = 0, status;
  if (copied) *copied = 0;
  if (!have_file(from, "pfu_fcopy") || !have_file(to, "pfu_fcopy")) return PFU_TRAP;
  if (n < -1) {
    report_fatal("pfu_fcopy", "bad count %d", n);
    return PFU_TRAP;
  }
  do {
    int got = 0;
    status = pfu_fread(from, n == -1 || n > kCopyPiece ? kCopyPiece : n, &got, piece);
    if (status != PFU_SUCCESS && status != PFU_EOF) break;
    if (got > 0) {
      const int written = pfu_fwrite(to, got, piece);
      if (written != PFU_SUCCESS) {
        status = written;
        break;
      }
    }
    total += got;
    if (n != -1) n -= got;
  } while (status != PFU_EOF && n != 0);
  if (copied) *copied = total;
  if (status == PFU_EOF && n == -1) status = PFU_SUCCESS;
  return status;
}

int pfu_fsend(PF_File_Ptr file, PF_File_Ptr stream) {
  if (!have_file(file, "pfu_fsend") || !have_file(stream, "pfu_fsend")) return PFU_TRAP;
  for (;;) {
    int byte = 0;
    int status = pfu_fgetc(file, &byte);
    if (status == PFU_EOF) break;
    if (status != PFU_SUCCESS) return status;
    if (byte == kEndOfText) {
      report_fatal("pfu_fsend", "'\\^D' is not permitted in text files");
      return PFU_TRAP;
    }
    status = pfu_fputc(stream, byte);
    if (status != PFU_SUCCESS) return status;
  }
  return pfu_fputc(stream, kEndOfText);
}

int pfu_freceive(PF_File_Ptr stream, PF_File_Ptr file) {
  if (!have_file(stream, "pfu_freceive") || !have_file(file, "pfu_freceive")) return PFU_TRAP;
  for (;;) {
    int byte = 0;
    int status = pfu_fgetc(stream, &byte);
    if (status != PFU_SUCCESS) return status;
    if (byte == kEndOfText) return PFU_SUCCESS;
    status = pfu_fputc(file, byte);
    if (status != PFU_SUCCESS) return status;
  }
}

int pfu_send_file(const char* name, PF_File_Ptr stream) {
  PF_File_Ptr file = nullptr;
  int status = pfu_fopen(name, 1, PFU_Text, kCopyPiece, &file);
  if (status != PFU_SUCCESS) return status;
  status = pfu_fsend(file, stream);
  const int closed = pfu_fclose(&file);
  return status == PFU_SUCCESS ? closed : status;
}

int pfu_receive_file(PF_File_Ptr stream, const char* name) {
  // A plain file (or a missing one) is replaced only once the whole text has arrived: the text
  // goes to the sibling "<name>~", which is renamed over the name at the end and removed on a
  // failure, so that a failure never leaves the old file half-written. Devices, read-only files
  // and names too long for the sibling are written directly, as they always were.
  char target[PFU_PATH_MAX] = "", part[PFU_PATH_MAX] = "";
  const size_t length = name ? strlen(name) : 0;
  if (length > 0 && length + 1 < PFU_PATH_MAX) {
    memcpy(target, name, length + 1);
    pfu_path_convert_separators(target, PFU_Backslash_Form);
    if (platform_path_replaceable(target)) {
      memcpy(part, target, length);
      memcpy(part + length, "~", 2);
    }
  }
  PF_File_Ptr file = nullptr;
  int status = pfu_fopen(part[0] ? part : name, 6, PFU_Text, kCopyPiece, &file);
  if (status != PFU_SUCCESS) return status;
  status = pfu_freceive(stream, file);
  const int closed = pfu_fclose(&file);
  if (status == PFU_SUCCESS) status = closed;
  if (!part[0]) return status;
  if (status == PFU_SUCCESS && !platform_path_rename(part, target)) status = pfu_errno_status();
  // A failure to remove the part is not reported over the failure that made it useless.
  if (status != PFU_SUCCESS) platform_path_remove(part);
  return status;
}

void pfu_set_dbg_list(int on) {
  XAR_FREE(&open_files);
  if (on) open_files = static_cast<PF_File_Ptr*>(XAR_ALLOC(0, sizeof(PF_File_Ptr), 8));
}

PF_File_Ptr* pfu_dbg_list(void) { return open_files; }
