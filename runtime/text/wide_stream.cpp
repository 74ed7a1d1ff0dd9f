// Wide characters on the standard buffered streams and the console.
#include "platform/console.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"
#include "runtime/text/mbconv_internal.h"

using namespace kel::text;

kel_wchar fget_unicode_wc(FILE* stream) {
  int b = getc(stream);
  if (b == EOF || b == 0xFF) return 0xFFFF;
  const int code = lang_code_get();
  const CodePage& t = session_code_page(code);
  unsigned char bytes[3] = {static_cast<unsigned char>(b), 0, 0};
  if (code == LANG_CODE_JAPANESE) {
    int len = 1;
    if (b == 0x8E || b > 0xA0) {
      int c = getc(stream);
      bytes[1] = static_cast<unsigned char>(c == EOF ? 0 : c);
      len = 2;
    } else if (b == 0x8F) {
      int c = getc(stream);
      if (c > 0xA0 && c != 0xFF) {
        int d = getc(stream);
        bytes[1] = static_cast<unsigned char>(c);
        bytes[2] = static_cast<unsigned char>(d == EOF ? 0 : d);
        len = 3;
      } else if (c != EOF) {
        ungetc(c, stream);
      }
    }
    kel_wchar wc = t.error ? kNoChar : from_euc(t, bytes, len);
    return wc == kNoChar ? 0 : wc;
  }
  kel_wchar wc = kNoChar;
  if (!t.error) {
    if (t.lead[bytes[0]]) {
      int c = getc(stream);
      wc = c == EOF ? kNoChar : t.pair(bytes[0], static_cast<unsigned char>(c));
    } else {
      wc = t.single[bytes[0]];
    }
  }
  if (wc == kNoChar) {
    report_failure("fget_unicode_wc", t.error ? t.error : no_translation());
    return 0xFFFF;
  }
  return wc;
}

kel_wchar fput_unicode_wc(kel_wchar wc, FILE* stream) {
  unsigned char bytes[4];
  int error = 0;
  int n = to_euc(wc, lang_code_get() == LANG_CODE_JAPANESE, bytes, &error);
  if (n == 0) {
    report_failure("fput_unicode_wc", error);
    putc(' ', stream);
    return wc;
  }
  fwrite(bytes, 1, static_cast<size_t>(n), stream);
  return wc;
}

int wide_getc(FILE* stream) {
  const int code = lang_code_get();
  if (code == LANG_CODE_JAPANESE) {
    kel_wchar wc = fget_unicode_wc(stream);
    return wc == 0xFFFF ? -1 : wc;
  }
  int b = getc(stream);
  if (b == EOF) return -1;
  if (is_single_byte_language(code)) return b;
  char text[3] = {static_cast<char>(b), 0, 0};
  if (session_code_page(code).lead[b]) {
    int c = getc(stream);
    if (c != EOF) text[1] = static_cast<char>(c);
  }
  kel_wchar wc = 0;
  return kel_mbtowc(&wc, text, 2) < 0 ? -1 : wc;
}

kel_wchar* wide_gets(kel_wchar* buffer, int count, FILE* stream) {
  if (count <= 1) {
    if (buffer) buffer[0] = 0;
    return buffer;
  }
  int n = 0;
  while (n < count - 1) {
    int wc = wide_getc(stream);
    if (wc < 0) {
      if (n == 0) {
        buffer[0] = 0;
        return nullptr;
      }
      break;
    }
    buffer[n++] = static_cast<kel_wchar>(wc);
    if (wc == '\n') break;
  }
  buffer[n] = 0;
  return buffer;
}

kel_wchar wide_putc(kel_wchar wc, FILE* stream) { return fput_unicode_wc(wc, stream); }

void wide_puts(const kel_wchar* wide, FILE* stream) {
  for (; wide && *wide; ++wide) fput_unicode_wc(*wide, stream);
}

kel_wchar* console_line_read(kel_wchar* buffer) {
  // The line is stored up to CONSOLE_LINE_MAX units; the rest of a longer line is read and dropped.
  int n = 0;
  for (;;) {
    int wc = wide_getc(stdin);
    if (wc < 0) {
      buffer[n] = 0;
      return n == 0 ? nullptr : buffer;
    }
    if (wc == '\n') break;
    if (n < CONSOLE_LINE_MAX) buffer[n++] = static_cast<kel_wchar>(wc);
  }
  buffer[n] = 0;
  return buffer;
}

kel_wchar* console_line_read_hidden(kel_wchar* buffer) {
  unsigned int mode = 0;
  if (!platform_console_input_mode_get(&mode)) return nullptr;
  if (!platform_console_input_mode_set(mode & ~PLATFORM_CONSOLE_ECHO)) return nullptr;
  kel_wchar* result = console_line_read(buffer);
  platform_console_input_mode_set(mode);
  return result;
}
