#include "host/step/model_file.h"

namespace mirax {

bool is_step_file(std::string_view file) {
  const auto dot = file.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(file.substr(dot + 1));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == "step" || ext == "stp";
}

Assembly read_model_file(const std::string& file, std::ostream& warnings) {
  return is_step_file(file) ? load_step_assembly(file, warnings) : load_assembly(file);
}

}  // namespace mirax
