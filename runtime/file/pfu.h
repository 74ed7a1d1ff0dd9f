// The portable file layer: one buffered handle type over disk files, pipes and sockets, text and
// binary kinds, its own status codes, and the portable path form in which "|" separates
// components ("/" and "\" are accepted on input). Path buffers hold PFU_PATH_MAX bytes.
#pragma once
#include "platform/pfile.h"
#include "platform/kel_base.h"

KEL_BEGIN_C
#define PFU_PATH_MAX 256

enum { PFU_Disk_File = 1, PFU_Pipe = 2, PFU_INET_Socket = 3 };
enum { PFU_Text = 1, PFU_Binary = 2 };
// Access bits and the value that marks a handle closing must leave open.
enum { PFU_Readable = 1, PFU_Writable = 2, PFU_Keep_Handle = 32 };
enum { PFU_State_Read = 1, PFU_State_Write = 2, PFU_State_Neutral = 3 };
enum { PFU_SEEK_SET = 0, PFU_SEEK_CUR = 1, PFU_SEEK_END = 2 };
// Path forms for pfu_path_to_native and pfu_path_convert_separators.
enum { PFU_Slash_Form = 3, PFU_Backslash_Form = 4 };

#define PF_NULL_Handle     PLATFORM_NULL_FH
#define PF_NULL_Descriptor (-1)

// Status codes (pfu_status.def); pfu_status_to_msg gives their texts.
enum {
#define PFU_STATUS(name, value, text) name = value,
#include "runtime/file/pfu_status.def"
  PFU_STATUS_COUNT
};

typedef struct PF_File {
  int type;      // PFU_Disk_File, PFU_Pipe, PFU_INET_Socket
  int kind;      // PFU_Text, PFU_Binary
  char* path;    // absolute path given at open, or null
  int access;    // access code of the open; PFU_Keep_Handle leaves the handle open at close
  char* buffer;  // buffer_size bytes, or null when the size is 0
  int buffered;  // reading: bytes not yet delivered; writing: bytes in the buffer
  int offset;    // reading: next byte to deliver; writing: bytes already written out
  int buffer_size;
  int state;  // PFU_State_Read, PFU_State_Write, PFU_State_Neutral
  platform_fh handle;
  int socket;
} PF_File, *PF_File_Ptr;

int pfu_fopen(const char* name, int access, int kind, int buffer_size, PF_File_Ptr* file);
void pfu_fdopen(platform_fh handle, int socket, const char* path, int access, int type, int kind,
                int buffer_size, PF_File_Ptr* file);
int pfu_fclose(PF_File_Ptr* file);
int pfu_fread(PF_File_Ptr file, int n, int* got, void* buffer);
int pfu_fwrite(PF_File_Ptr file, int n, const void* data);
int pfu_write_internal(PF_File_Ptr file, int n, const void* data, int* written);
int pfu_read_internal(PF_File_Ptr file, int size, int* got, void* buffer);
int pfu_fflush(PF_File_Ptr file);
// Files of 2 GiB and more are read, written and appended like any other. The offsets and lengths
// below are longs (32 bits): pfu_fseek reaches a position beyond them from the current position or
// the end; pfu_ftell at such a position returns -1 with errno EOVERFLOW (the status
// PFU_TOO_BIG), never a wrapped value.
int pfu_fseek(PF_File_Ptr file, long offset, int origin);
long pfu_ftell(PF_File_Ptr file);
int pfu_ftruncate(PF_File_Ptr file, long length);
int pfu_fputc(PF_File_Ptr file, int byte);
int pfu_fputs(PF_File_Ptr file, const char* string);
int pfu_fgetc(PF_File_Ptr file, int* byte);
int pfu_fcopy(PF_File_Ptr from, PF_File_Ptr to, int n, int* copied);
int pfu_fsend(PF_File_Ptr file, PF_File_Ptr stream);
int pfu_freceive(PF_File_Ptr stream, PF_File_Ptr file);
int pfu_send_file(const char* name, PF_File_Ptr stream);
int pfu_receive_file(PF_File_Ptr stream, const char* name);

const char* pfu_status_to_msg(int status);
// The status for the standard library's current error number.
int pfu_errno_status(void);

// The open-file list: on creates it empty, off frees it. pfu_dbg_list gives the records in it
// (an xarray of PF_File_Ptr, null while off).
void pfu_set_dbg_list(int on);
PF_File_Ptr* pfu_dbg_list(void);

int pfu_cat_path(const char* directory, const char* name, char* out);
int pfu_abs_path(char* path);
int pfu_is_parent_path(char* child, char* parent, char* rest);
int pfu_full_path(const char* name, char* out);
int pfu_path_normalize(char* path);
void pfu_path_to_native(char* path, int mode);
void pfu_path_convert_separators(char* path, int mode);
char* pfu_path_tail(const char* path);
int pfu_getcwd(char* out);
KEL_END_C
