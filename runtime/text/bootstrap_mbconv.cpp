// BOOTSTRAP ONLY: Latin-1 bodies so that the tree links before the conversions land. Delete when replaced.
#include "runtime/text/mbconv.h"

kel_wchar* strtows(kel_wchar* out, const char* in) {
  kel_wchar* o = out;
  while (*in) *o++ = (unsigned char)*in++;
  *o = 0;
  return out;
}
char* wstostr(char* out, const kel_wchar* in) {
  char* o = out;
  while (*in) { *o++ = *in < 256 ? (char)*in : '?'; ++in; }
  *o = 0;
  return out;
}
