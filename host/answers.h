// The user's answers to the command's prompts: scripted from the command line or asked on
// the terminal.
#pragma once
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "host/model.h"

namespace mirax {

class Answers {
 public:
  virtual ~Answers() = default;
  // The reply to the name prompt, or nullopt when the user cancels it.
  virtual std::optional<std::u16string> name() = 0;
  // The picked csys, or nullopt when the user aborts the pick.
  virtual std::optional<CsysLocation> pick(const Assembly& assembly) = 0;
};

// What the command line scripts; an unset answer is asked on the terminal.
struct ScriptedAnswers {
  std::optional<std::u16string> name;     // the reply
  bool cancel = false;                    // cancel the name prompt
  std::optional<CsysLocation> reference;  // the pick
  bool no_reference = false;              // abort the pick
};

// Scripted answers where given; the rest read from `in`, with prompts and the pickable csys
// shown on `out`.
std::unique_ptr<Answers> make_answers(ScriptedAnswers scripted, std::istream& in,
                                      std::ostream& out);

}  // namespace mirax
