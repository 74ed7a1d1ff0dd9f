// Model files by their kind: STEP assemblies (.step, .stp in any case) through the STEP reader,
// every other file as JSON. The rest of mirax sees only the model, whatever the format.
#pragma once
#include <iosfwd>
#include <string>
#include <string_view>

#include "host/model.h"

namespace mirax {

// True for a file name ending in .step or .stp, in any case (inline: the reader mirax loads on
// demand names external files with it too).
inline bool is_step_file(std::string_view file) {
  const auto dot = file.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(file.substr(dot + 1));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == "step" || ext == "stp";
}

// Whether this build reads STEP files (it does where OCCT was found at build time).
extern const bool kStepSupported;

// Reads a STEP assembly; what the model cannot hold as the file has it (a name cut to 31
// characters, a csys name given twice) is written to `warnings`, one line each. Throws
// ModelError("<file>: <fault>").
Assembly load_step_assembly(const std::string& file, std::ostream& warnings);

// Reads a model file of either kind. Throws ModelError naming the file and the fault.
Assembly read_model_file(const std::string& file, std::ostream& warnings);

}  // namespace mirax
