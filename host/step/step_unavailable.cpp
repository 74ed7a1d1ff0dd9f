// The STEP reader of a build without OCCT (the Windows build): it names the conversion instead.
#include <ostream>

#include "host/step/model_file.h"

namespace mirax {

const bool kStepSupported = false;

Assembly load_step_assembly(const std::string& file, std::ostream&) {
  throw ModelError(file +
                   ": this mirax reads no STEP files (it was built without OCCT); convert the "
                   "assembly with a Linux mirax: mirax --model FILE.step --export-model "
                   "FILE.json, then run the report on FILE.json");
}

}  // namespace mirax
