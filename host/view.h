// The drawn report (`--view FILE.html`): one self-contained HTML page with the assembly tree beside
// a 3D view of every csys the report csyspos.txt lists, drawn from that report's own numbers.
#pragma once
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/answers.h"
#include "host/host.h"
#include "host/model.h"

namespace mirax {

// One component row of the report.
struct ReportRow {
  int level = 0;
  std::string name;    // as written: 8-bit text of the session's code page
  std::string kind;    // "ASSEMBLY" or "PART"
  std::string values;  // the numbers as written, twelve per csys listed; "" when none
};

struct Report {
  std::string listing;                   // the csys name listed, as written
  std::optional<std::string> reference;  // the reference csys's name, when one was picked
  std::vector<ReportRow> rows;
};

// Reads a report's text (LF or CRLF line ends); nullopt when the text is not such a report.
std::optional<Report> parse_report(std::string_view text);

// What the page draws: the model, and the report of its listing or why there is none.
struct ViewSource {
  std::string model_file;        // shown as the page's title: the file name without its folder
  std::optional<Report> report;  // nullopt: no report was written
  std::string no_report;         // why there is no report
  int code_page = 0;             // the report's 8-bit code page (0: unknown, read as ASCII)
};

// The whole page. Every name reaches the page as data read by its script as text, never as markup.
std::string view_page(const Assembly& assembly, const ViewSource& source);

// Writes the page to `file` (UTF-8 path) in binary, so that every platform writes the same bytes;
// false, said on `err`, when it cannot be written.
bool write_view(const std::string& file, const Assembly& assembly, const ViewSource& source,
                std::ostream& err);

// The report csyspos.txt a session left in `directory` ("" for the current folder), when the
// session says it wrote one.
ViewSource view_source_after(const SessionResult& result, const std::string& directory,
                             const std::string& model_file);

// For runs that press nothing (`--export-model`): presses assembly/-CsysList with the scripted
// answers in a temporary folder of its own, reads the report there and removes the folder; the
// module's messages are not shown. Without a name to reply nothing is pressed. The current folder
// is kept. `status` receives the session's exit status.
ViewSource view_source_of_private_press(SessionOptions options, const Assembly& assembly,
                                        const ScriptedAnswers& answers,
                                        const std::string& model_file, std::ostream& err,
                                        ExitStatus& status);

}  // namespace mirax
