// mirax's STEP entry: loads the STEP reader (mirax_step.so beside mirax, which needs OCCT's
// libraries) when the first STEP file is read, so that mirax runs JSON models without OCCT.
#include <ostream>

#include "host/encoding.h"
#include "host/step/model_file.h"
#include "platform/dynload.h"
#include "platform/program.h"

namespace mirax {

const bool kStepSupported = true;

Assembly load_step_assembly(const std::string& file, std::ostream& warnings) {
  using Read = int(const char*, std::ostream*, Assembly*, std::string*);
  static platform_library* library = nullptr;
  if (!library) {
    char program[1024];
    if (platform_program_path(program, sizeof program) == 0)
      throw ModelError(file + ": the STEP reader cannot be found (mirax's own path is unknown)");
    const std::string reader = (path_from_utf8(program).parent_path() / "mirax_step.so").string();
    library = platform_library_open(reader.c_str());
    if (!library)
      throw ModelError(file + ": the STEP reader " + reader + " cannot be loaded (" +
                       platform_library_error() +
                       "); reading STEP needs OCCT's libraries: apt-get install "
                       "libocct-data-exchange-7.6:i386 (see the README), or convert the file to "
                       "JSON where mirax reads STEP");
  }
  auto* read = reinterpret_cast<Read*>(platform_library_symbol(library, "mirax_step_read"));
  if (!read) throw ModelError(file + ": the STEP reader has no entry mirax_step_read");
  Assembly assembly;
  std::string error;
  if (!read(file.c_str(), &warnings, &assembly, &error)) throw ModelError(error);
  return assembly;
}

}  // namespace mirax
