#include "host/step/model_file.h"

namespace mirax {

Assembly read_model_file(const std::string& file, std::ostream& warnings) {
  return is_step_file(file) ? load_step_assembly(file, warnings) : load_assembly(file);
}

}  // namespace mirax
