// Helpers shared by the print, scan and wide-string tests.
#pragma once
#include <functional>
#include <string>

#include "platform/kel_base.h"

namespace texttest {

// What `action` writes to the standard output.
std::string stdout_of(const std::function<void()>& action);
// A null-safe copy of an engine result ("<null>" for null).
std::string text_or_null(const char* text);
// A wide literal as kel_wchar text.
inline const kel_wchar* W(const char16_t* s) { return s; }
std::u16string wide_text(const kel_wchar* w);

}  // namespace texttest
