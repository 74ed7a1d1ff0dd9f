#include "host/answers.h"

#include <istream>
#include <ostream>
#include <string>

#include "host/encoding.h"

namespace mirax {

namespace {

// A terminal line without its line end; nullopt at the end of input.
std::optional<std::string> read_line(std::istream& in) {
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

class CommandLineAnswers final : public Answers {
 public:
  CommandLineAnswers(ScriptedAnswers scripted, std::istream& in, std::ostream& out)
      : scripted_(std::move(scripted)), in_(in), out_(out) {}

  std::optional<std::u16string> name() override {
    if (scripted_.cancel) {
      out_ << "> (cancelled)\n";
      return std::nullopt;
    }
    if (scripted_.name) {
      out_ << "> " << wide_to_utf8(*scripted_.name) << "\n";
      return scripted_.name;
    }
    for (;;) {
      out_ << "> " << std::flush;
      const auto line = read_line(in_);
      if (!line) return std::nullopt;  // end of input cancels
      if (auto wide = utf8_to_wide(*line)) return wide;
      out_ << "(not UTF-8 text; type the name again)\n";
    }
  }

  std::optional<CsysLocation> pick(const Assembly& assembly) override {
    if (scripted_.no_reference) {
      out_ << "> (pick aborted)\n";
      return std::nullopt;
    }
    if (scripted_.reference) {
      out_ << "> " << scripted_.reference->path << "\n";
      return scripted_.reference;
    }
    // The list is printed as it is enumerated, and a number found by enumerating again: no
    // list of every csys of a large tree is held.
    size_t count = 0;
    for_each_pickable(assembly, [&](const CsysLocation& at) {
      out_ << "  " << ++count << ". " << at.path << "\n";
      return true;
    });
    for (;;) {
      out_ << "pick (number or path; empty to abort)> " << std::flush;
      const auto line = read_line(in_);
      if (!line || line->empty()) return std::nullopt;
      const std::string& answer = *line;
      if (answer.find_first_not_of("0123456789") == std::string::npos && answer.size() < 9) {
        const size_t n = std::stoul(answer);
        std::optional<CsysLocation> chosen;
        size_t seen = 0;
        for_each_pickable(assembly, [&](const CsysLocation& at) {
          if (++seen == n) chosen = at;
          return !chosen;
        });
        if (chosen) return chosen;
        out_ << "(no csys number " << answer << ")\n";
        continue;
      }
      try {
        return resolve_reference(assembly, answer);
      } catch (const ModelError& e) {
        out_ << "(" << e.what() << ")\n";
      }
    }
  }

 private:
  ScriptedAnswers scripted_;
  std::istream& in_;
  std::ostream& out_;
};

}  // namespace

std::unique_ptr<Answers> make_answers(ScriptedAnswers scripted, std::istream& in,
                                      std::ostream& out) {
  return std::make_unique<CommandLineAnswers>(std::move(scripted), in, out);
}

}  // namespace mirax
