// The drawn report: the page is a template (host/view/) filled with three.js, the page's script and
// style, and the data, all embedded in mirax at build time. The csys drawn are the report's own
// numbers as the module wrote them, not a second computation of them.
#include "host/view.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <system_error>
#include <utility>

#include "host/encoding.h"
#include "host/text_files.h"

namespace mirax {

namespace view_assets {
extern const std::string_view page, script, style, three, controls;
}  // namespace view_assets

namespace {

namespace fs = std::filesystem;
using ordered_json = nlohmann::ordered_json;

constexpr std::string_view kListingPrefix = " Csys Name(Listing) = ";
constexpr std::string_view kReferencePrefix = " Csys Name(Original) = ";
constexpr std::string_view kHeader =
    "Lebel Name  Type  Tx   Ty   Tz   x1   x2   x3   y1   y2   y3   z1   z2   z3";
constexpr std::string_view kNoValues = "N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A N/A";
constexpr size_t kValuesPerCsys = 12;

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (size_t start = 0;;) {
    const size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

bool strip(std::string_view& text, std::string_view prefix, std::string_view suffix) {
  if (text.size() < prefix.size() + suffix.size() || !text.starts_with(prefix) ||
      !text.ends_with(suffix))
    return false;
  text = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  return true;
}

// How many numbers `values` holds, or nullopt when it holds anything but numbers.
std::optional<size_t> number_count(std::string_view values) {
  size_t count = 0;
  for (size_t pos = 0;;) {
    pos = values.find_first_not_of(' ', pos);
    if (pos == std::string_view::npos) return count;
    const size_t end = std::min(values.find(' ', pos), values.size());
    double value = 0;
    const auto [stop, ec] = std::from_chars(values.data() + pos, values.data() + end, value);
    if (ec != std::errc() || stop != values.data() + end) return std::nullopt;
    ++count;
    pos = end;
  }
}

// "LEVEL NAME KIND VALUES": the kind is the last " ASSEMBLY " or " PART " of the line, as the
// values hold no letters and a name may hold blanks.
std::optional<ReportRow> parse_row(std::string_view line) {
  ReportRow row;
  size_t digits = 0;
  while (digits < line.size() && digits < 3 && line[digits] >= '0' && line[digits] <= '9')
    row.level = row.level * 10 + (line[digits++] - '0');
  if (digits == 0 || digits >= line.size() || line[digits] != ' ') return std::nullopt;
  const size_t assembly = line.rfind(" ASSEMBLY "), part = line.rfind(" PART ");
  const bool is_part =
      part != std::string_view::npos && (assembly == std::string_view::npos || part > assembly);
  const size_t kind_at = is_part ? part : assembly;
  if (kind_at == std::string_view::npos || kind_at < digits) return std::nullopt;
  row.kind = is_part ? "PART" : "ASSEMBLY";
  row.name = std::string(line.substr(digits + 1, kind_at > digits ? kind_at - digits - 1 : 0));
  std::string_view values = line.substr(kind_at + row.kind.size() + 2);
  while (!values.empty() && values.back() == ' ') values.remove_suffix(1);
  if (values == kNoValues) values = {};
  const auto count = number_count(values);
  if (!count || *count % kValuesPerCsys != 0) return std::nullopt;
  row.values = std::string(values);
  return row;
}

// A node of the assembly tree, depth first in the host's visiting order: the top model (level 0),
// then every component at every depth.
struct TreeNode {
  int level = 0;
  int model = -1;
};

void walk(const Assembly& assembly, int model, int level, std::vector<TreeNode>& nodes) {
  nodes.push_back({level, model});
  for (const Component& c : assembly.models[static_cast<size_t>(model)].components)
    walk(assembly, c.model, level + 1, nodes);
}

// Text for HTML element content and attributes.
std::string html_text(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// JSON that may stand inside a <script> element: "<", ">" and "&" only occur within its strings,
// where their escapes read back the same.
std::string script_json(const ordered_json& data) {
  const std::string text = data.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '<': out += "\\u003c"; break;
      case '>': out += "\\u003e"; break;
      case '&': out += "\\u0026"; break;
      default: out += c;
    }
  }
  return out;
}

// The template with each "@KEY@" replaced by its part.
std::string fill(std::string_view tpl,
                 const std::vector<std::pair<std::string_view, std::string_view>>& parts) {
  std::string out;
  size_t size = tpl.size();
  for (const auto& [key, part] : parts) size += part.size();
  out.reserve(size);
  size_t pos = 0;
  while (true) {
    const size_t at = tpl.find('@', pos);
    if (at == std::string_view::npos) break;
    const size_t end = tpl.find('@', at + 1);
    const std::string_view key =
        end == std::string_view::npos ? std::string_view() : tpl.substr(at + 1, end - at - 1);
    bool filled = false;
    for (const auto& [name, part] : parts)
      if (!key.empty() && key == name) {
        out.append(tpl.substr(pos, at - pos));
        out.append(part);
        pos = end + 1;
        filled = true;
        break;
      }
    if (!filled) {
      out.append(tpl.substr(pos, at + 1 - pos));
      pos = at + 1;
    }
  }
  out.append(tpl.substr(pos));
  return out;
}

// A folder of its own under the system's temporary folder, removed with what it holds when the
// object goes, the current folder then being the one it was before.
class PrivateFolder {
 public:
  PrivateFolder() : previous_(fs::current_path()) {
    std::random_device device;
    std::mt19937 random(
        device() ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = fs::temp_directory_path() / ("mirax-view-" + std::to_string(random()));
      if (fs::create_directory(path_)) return;
    }
    throw std::runtime_error("--view: no temporary folder could be made");
  }
  ~PrivateFolder() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    fs::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path previous_;
  fs::path path_;
};

}  // namespace

std::optional<Report> parse_report(std::string_view text) {
  const std::vector<std::string_view> lines = split_lines(text);
  Report report;
  size_t i = 0;
  std::string_view line = lines[i++];
  if (!strip(line, kListingPrefix, " ")) return std::nullopt;
  report.listing = std::string(line);
  if (i < lines.size() && lines[i].starts_with(kReferencePrefix)) {
    line = lines[i++];
    if (!strip(line, kReferencePrefix, "  ")) return std::nullopt;
    report.reference = std::string(line);
  }
  if (i + 1 >= lines.size() || !lines[i].empty() || lines[i + 1] != kHeader) return std::nullopt;
  i += 2;
  // A header without components ends with its line end; otherwise the first row's start is " \n".
  if (i + 1 == lines.size() && lines[i].empty()) return report;
  if (i >= lines.size() || lines[i] != " ") return std::nullopt;
  for (++i; i < lines.size(); ++i) {
    auto row = parse_row(lines[i]);
    if (!row) return std::nullopt;
    report.rows.push_back(std::move(*row));
  }
  return report;
}

std::string view_page(const Assembly& assembly, const ViewSource& source) {
  std::vector<TreeNode> tree;
  walk(assembly, assembly.top, 0, tree);

  // The report's rows are the components in the host's visiting order, so row i is tree node
  // i + 1 when the two agree in count, levels and kinds.
  const Report* report = source.report ? &*source.report : nullptr;
  bool rows_follow_tree = report && report->rows.size() + 1 == tree.size();
  for (size_t i = 0; rows_follow_tree && i < report->rows.size(); ++i) {
    const Model& m = assembly.models[static_cast<size_t>(tree[i + 1].model)];
    rows_follow_tree = report->rows[i].level == tree[i + 1].level &&
                       (report->rows[i].kind == "ASSEMBLY") == (m.type == ModelType::assembly);
  }

  ordered_json data;
  data["title"] = path_to_utf8(path_from_utf8(source.model_file).filename());
  data["listing"] =
      report ? ordered_json(text_to_utf8(report->listing, source.code_page)) : nullptr;
  data["reference"] = report && report->reference
                          ? ordered_json(text_to_utf8(*report->reference, source.code_page))
                          : nullptr;
  ordered_json& models = data["models"] = ordered_json::array();
  for (const Model& m : assembly.models)
    models.push_back({m.name, m.type == ModelType::assembly ? "ASSEMBLY" : "PART"});
  ordered_json& nodes = data["nodes"] = ordered_json::array();
  size_t triads = 0;
  for (size_t i = 0; i < tree.size(); ++i) {
    std::string values;
    if (rows_follow_tree && i > 0) values = report->rows[i - 1].values;
    triads += number_count(values).value_or(0) / kValuesPerCsys;
    nodes.push_back({tree[i].level, tree[i].model, std::move(values)});
  }
  data["triads"] = triads;
  std::string note;
  if (!report)
    note = source.no_report;
  else if (!rows_follow_tree)
    note = "The report's " + std::to_string(report->rows.size()) +
           " rows do not follow the model's " + std::to_string(tree.size() - 1) +
           " components: no csys is drawn.";
  else if (triads == 0)
    note = "No csys named \"" + text_to_utf8(report->listing, source.code_page) +
           "\" in this model: the tree only.";
  data["note"] = note;

  const std::string json = script_json(data);
  const std::string title = html_text(data["title"].get<std::string>());
  return fill(view_assets::page, {{"TITLE", title},
                                  {"STYLE", view_assets::style},
                                  {"THREE", view_assets::three},
                                  {"CONTROLS", view_assets::controls},
                                  {"DATA", json},
                                  {"SCRIPT", view_assets::script}});
}

bool write_view(const std::string& file, const Assembly& assembly, const ViewSource& source,
                std::ostream& err) {
  const std::string page = view_page(assembly, source);
  std::ofstream out(path_from_utf8(file), std::ios::binary | std::ios::trunc);
  out << page;
  out.close();
  if (!out) {
    err << "mirax: --view: " << file << " cannot be written\n";
    return false;
  }
  return true;
}

ViewSource view_source_after(const SessionResult& result, const std::string& directory,
                             const std::string& model_file) {
  ViewSource source{model_file, std::nullopt, "", session_code_page()};
  if (!result.report_written) {
    source.no_report =
        "No report was written (the name prompt was cancelled or failed, or no "
        "assembly/-CsysList was pressed): the tree only.";
    return source;
  }
  const fs::path folder = directory.empty() ? fs::current_path() : path_from_utf8(directory);
  const auto text = read_file(path_to_utf8(folder / "csyspos.txt"));
  if (text) source.report = parse_report(*text);
  if (!source.report)
    source.no_report = "The report csyspos.txt could not be read as a report: the tree only.";
  return source;
}

ViewSource view_source_of_private_press(SessionOptions options, const Assembly& assembly,
                                        const ScriptedAnswers& answers,
                                        const std::string& model_file, std::ostream& err,
                                        ExitStatus& status) {
  status = kExitOk;
  if (!answers.name || answers.cancel)
    return {model_file, std::nullopt, "No csys name was given (--name): the tree only.", 0};
  ScriptedAnswers scripted = answers;
  if (!scripted.reference) scripted.no_reference = true;  // no terminal to pick on
  const PrivateFolder folder;
  options.directory = path_to_utf8(folder.path());
  options.presses = {kDefaultButton};
  options.list_buttons = false;
  options.trace = nullptr;
  options.faults = {};
  std::istringstream no_input;
  std::ostringstream not_shown;
  const auto replies = make_answers(std::move(scripted), no_input, not_shown);
  const SessionResult result = run_session(options, assembly, *replies, not_shown, err);
  status = result.status;
  return view_source_after(result, options.directory, model_file);
}

}  // namespace mirax
