#include "binding/exception_text.h"

#include <cxxabi.h>
#include <stdio.h>
#include <stdlib.h>

#include <exception>
#include <typeinfo>

void kel_describe_current_exception(char* out, size_t size) {
  const std::type_info* type = abi::__cxa_current_exception_type();
  int demangled_status = -1;
  char* demangled =
      type ? abi::__cxa_demangle(type->name(), nullptr, nullptr, &demangled_status) : nullptr;
  const char* type_name = demangled ? demangled : type ? type->name() : "an unknown exception";
  try {
    throw;
  } catch (const std::exception& e) {
    snprintf(out, size, "%s: %s", type_name, e.what());
  } catch (...) {
    snprintf(out, size, "%s", type_name);
  }
  free(demangled);
}
