// The status name table and its look-up.
#include "binding/kel_error.h"

namespace {
struct ErrorName {
  KelError value;
  const char* name;
};

constexpr ErrorName error_names[] = {
#define KEL_STATUS(name, value) {name, #name},
#include "binding/kel_status.def"
};
}  // namespace

// Row count of the name table, kept beside it as the host's dumps expect.
extern "C" const int32_t kel_error_name_count = sizeof error_names / sizeof error_names[0];

const char* kel_error_name(KelError status) {
  for (const ErrorName& row : error_names)
    if (row.value == status) return row.name;
  return "";
}
