#include "text_test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>

namespace texttest {

std::string stdout_of(const std::function<void()>& action) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  action();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

std::string text_or_null(const char* text) {
  return text ? std::string(text) : std::string("<null>");
}

std::u16string wide_text(const kel_wchar* w) {
  return w ? std::u16string(w) : std::u16string(u"<null>");
}

}  // namespace texttest
