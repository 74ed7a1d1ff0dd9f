// Turns automatic clumps on before anything allocates, so that the test program linked with it
// serves every heap request of up to 2048 bytes from a clump. Built with KEL_CLUMP_SIZE, every
// clump also has that size.
#include <stdlib.h>

#include "child_output.h"
#include "runtime/mem/clump.h"

namespace {

// The environment carries the settings into every child, copied or started anew.
__attribute__((constructor(101))) void clumps_on() {
  testsupport::set_env("AUTO_CLUMPS_ON", "TRUE");
#ifdef KEL_CLUMP_SIZE
  testsupport::set_env("CLUMP_SIZE", KEL_CLUMP_SIZE);
#endif
  read_memory_settings();
  if (!auto_clumps_on()) abort();
}

}  // namespace
