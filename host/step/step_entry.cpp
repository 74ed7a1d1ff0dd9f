// The entry of mirax_step.so, the STEP reader mirax loads when it reads a STEP file: no
// exception crosses it, the fault comes back as text.
#include <exception>
#include <string>

#include "host/step/model_file.h"

extern "C" __attribute__((visibility("default"))) int mirax_step_read(const char* file,
                                                                      std::ostream* warnings,
                                                                      mirax::Assembly* out,
                                                                      std::string* error) {
  try {
    *out = mirax::load_step_assembly(file, *warnings);
    return 1;
  } catch (const std::exception& e) {
    *error = e.what();
    return 0;
  }
}
