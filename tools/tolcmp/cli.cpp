// Command-line front of the tolerance comparison: options, the inputs, the differences on the
// standard output (text or JSON lines), the report file when asked, and the exit status.
#include "cli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "kel_version.h"
#include "runtime/tolcmp/tolcmp.h"

namespace {

constexpr int kExitSame = 0, kExitDifferent = 1, kExitTrouble = 2;

const char kRules[] = R"(
Two files are compared line by line and field by field (fields are separated by blanks, tabs,
commas and parentheses). Two numbers a and b differ when
    |a-b| >= ABS,  or  max(|a|,|b|) > ABS  and  |a-b| > REL * max(|a|,|b|),
so the absolute tolerance bounds the difference at every magnitude, however large the numbers,
and the relative one bounds it too above ABS. --abs 0 asks for identical number texts: 1.0 and
1.00 then differ.
Integers are compared exactly, and an integer never equals a real (1 differs from 1.0) unless
--loose is given (with --loose and ABS > 1, integers differ when more than ABS or
REL * max(|i|,|j|) apart). Exponents may be written with e, E, d or D; a field "*" matches
anything; a text holding * or ? is a pattern for the other file's text.

Skipped in both files: empty lines, lines starting with "!", and lines whose first non-blank
character is a single "<" or whose second one is "<". Beware: markup such as
<value>1.0</value> against <value>2.0</value> is therefore skipped and compares equal.
A line starting with "<<" is a directive that changes the tolerances for what follows, in both
files:
    << ABS_EPS = 1.0e-4   REL_EPS = 1.0e-2
(names ABS_EPS/abs_eps and REL_EPS/rel_eps/mp_eps; the values must be written as reals).
A line holding only "&" is a continuation mark and equals any line. A field that is not one
number in full (a version 2.10.0, a date 1.10.2020) is compared as text.

Fields: --fields FIELDS compares only those, --skip-fields FIELDS all but those, and
-a EPS:FIELDS, -r EPS:FIELDS (repeatable) give them their own tolerances, over -a/-r EPS and the
directives. FIELDS: N, N-M or N- (to the end), separated by commas, from 1; later options win.

--unordered matches lines without their separators (not with --blanks).
--layout compares a fixed-layout report (lines 10-12 and 16-18 are 3x3 matrices) with
relative tolerance 1e-5 unless directives say otherwise.

Each difference is printed with its line in each file (as the files number their lines), the
field's position, both values and, for numbers, the absolute and relative difference; then a
summary. "-" reads the standard input (through a temporary copy that never outlives the run).
--report FILE writes the report file (its format is the library's "dbgfile.dat"), emptied when
first written; a FILE that is one of the inputs is refused.

Exit status: 0 same, 1 different, 2 bad usage, a file that cannot be read, or output that
cannot be written (a closed pipe too).)";

// A tolerance: a finite number, not negative, read to the nearest double as the files' numbers
// are (a read through long double would round twice).
bool read_tolerance(const std::string& text, double* value) {
  return tolerance_parse_number(text.c_str(), value) && *value >= 0;
}

// Field ranges "3", "2-5", "4-" (to the end of the line), separated by commas: false when
// malformed.
bool read_fields(const std::string& text, std::vector<TolcmpFieldRule>* rules, int skip,
                 double abs_eps = NAN, double rel_eps = NAN) {
  size_t at = 0;
  do {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string range = text.substr(at, comma - at);
    const char* p = range.c_str();
    auto number = [&p](int* value) {
      if (!std::isdigit((unsigned char)*p)) return false;
      char* end;
      const long n = std::strtol(p, &end, 10);
      p = end;
      *value = (int)std::min(n, 1000000000L);
      return n >= 1;
    };
    TolcmpFieldRule rule{0, 0, skip, abs_eps, rel_eps};
    if (!number(&rule.first)) return false;
    rule.last = rule.first;
    if (*p == '-' && *++p == 0)
      rule.last = 0;  // to the end of the line
    else if (p != range.c_str() + range.size() && (!number(&rule.last) || rule.last < rule.first))
      return false;
    if (*p) return false;
    rules->push_back(rule);
    at = comma + 1;
  } while (at <= text.size());
  return true;
}

// "EPS" or "EPS:FIELDS": the tolerance for the whole line, or a rule for those fields (`rules`
// null: only checked).
bool read_tolerance_option(const std::string& text, bool relative, double* value,
                           std::vector<TolcmpFieldRule>* rules) {
  const size_t colon = text.find(':');
  double eps = 0;
  if (!read_tolerance(text.substr(0, colon), &eps)) return false;
  if (colon == std::string::npos) {
    *value = eps;
    return true;
  }
  std::vector<TolcmpFieldRule> scratch;
  return read_fields(text.substr(colon + 1), rules ? rules : &scratch, -1, relative ? NAN : eps,
                     relative ? eps : NAN);
}

struct ToleranceValidator : CLI::Validator {
  ToleranceValidator() : CLI::Validator("EPS[:FIELDS]") {
    func_ = [](std::string& text) -> std::string {
      double value = 0;
      return read_tolerance_option(text, false, &value, nullptr)
                 ? std::string()
                 : "tolerance must be a finite number >= 0: " + text + " (EPS, or EPS:FIELDS)";
    };
  }
};

struct FieldsValidator : CLI::Validator {
  FieldsValidator() : CLI::Validator("FIELDS") {
    func_ = [](std::string& text) -> std::string {
      std::vector<TolcmpFieldRule> rules;
      return read_fields(text, &rules, 1) ? std::string()
                                          : "fields are N, N-M or N- separated by commas: " + text;
    };
  }
};

void complain(const std::string& message) { std::fprintf(stderr, "tolcmp: %s\n", message.c_str()); }

// ---- Inputs ----------------------------------------------------------------------------

// A copy of the standard input in a temporary file, for the comparison, which opens its files by
// name. The copy never outlives the run, however the run ends: on Linux its name is removed as
// soon as it is created and the comparison reads it through /proc/self/fd; on Windows it is
// created to be deleted when its last handle closes, which the system does at any exit.
struct Spool {
  std::string path;  // the name the comparison opens
  int fd = -1;
  bool named = false;  // Linux without /proc: the name stays until the end of the run
  ~Spool() {
    if (fd >= 0) close_fd(fd);
    if (named) std::remove(path.c_str());
  }
  static void close_fd(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
  }
};

// Creates a new file in `folder` for reading and writing, never one that exists (a name planted
// in a shared temporary folder, a link among them, is passed over): its descriptor, or -1.
int create_new(const std::filesystem::path& folder, std::string* path) {
#ifdef _WIN32
  const long pid = (long)_getpid();
#else
  const long pid = (long)getpid();
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    *path = (folder / ("tolcmp-" + std::to_string(pid) + "-" + std::to_string(attempt))).string();
#ifdef _WIN32
    const int fd = _open(path->c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_TEMPORARY,
                         _S_IREAD | _S_IWRITE);
#else
    const int fd = open(path->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      // Read through the descriptor's own name from now on, when the system has one.
      const std::string by_fd = "/proc/self/fd/" + std::to_string(fd);
      struct stat own, named;
      if (stat(by_fd.c_str(), &named) == 0 && fstat(fd, &own) == 0 && own.st_ino == named.st_ino &&
          own.st_dev == named.st_dev && unlink(path->c_str()) == 0)
        *path = by_fd;
    }
#endif
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  path->clear();
  return -1;
}

// Copies `from` into a new temporary file: "" or why not.
std::string spool(FILE* from, const std::string& shown, Spool* copy) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) return "no temporary folder: " + error.message();
  copy->fd = create_new(folder, &copy->path);
#ifndef _WIN32
  copy->named = copy->fd >= 0 && copy->path.rfind("/proc/", 0) != 0;
#endif
  if (copy->fd < 0)
    return "cannot write a temporary file in " + folder.string() + ": " + std::strerror(errno);
  char buffer[1 << 16];
  size_t got;
  bool wrote = true;
  while ((got = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
    for (size_t done = 0; wrote && done < got;) {
#ifdef _WIN32
      const int put = _write(copy->fd, buffer + done, (unsigned)(got - done));
#else
      const ssize_t put = write(copy->fd, buffer + done, got - done);
      if (put < 0 && errno == EINTR) continue;
#endif
      wrote = put > 0;
      if (wrote) done += (size_t)put;
    }
  }
  const int read_error = std::ferror(from) ? errno : 0;
  if (read_error) return "cannot read " + shown + ": " + std::strerror(read_error);
  if (!wrote)
    return "cannot write a temporary file in " + folder.string() + ": " + std::strerror(errno);
  return {};
}

// Where a file lies: device and inode, on Windows the volume and the file index. The standard
// input for "-". False when the file does not exist or has no such identity (a pipe on Windows).
struct FileId {
  unsigned long long device = 0, index = 0;
  bool operator==(const FileId&) const = default;
};

bool file_id(const std::string& name, FileId* id) {
#ifdef _WIN32
  HANDLE handle =
      name == "-"
          ? (HANDLE)_get_osfhandle(0)
          : CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  if (name != "-") CloseHandle(handle);
  if (!known) return false;
  id->device = info.dwVolumeSerialNumber;
  id->index = ((unsigned long long)info.nFileIndexHigh << 32) | info.nFileIndexLow;
#else
  struct stat st;
  if ((name == "-" ? fstat(0, &st) : stat(name.c_str(), &st)) != 0) return false;
  id->device = (unsigned long long)st.st_dev;
  id->index = (unsigned long long)st.st_ino;
#endif
  return true;
}

// ---- Output ----------------------------------------------------------------------------

enum class Style { Text, Brief, Json, Quiet };

struct Paint {  // colours as the diff tools use them, or none
  const char *place = "", *first = "", *second = "", *off = "";
};

bool colour_wanted(const std::string& when) {
  if (when == "always") return true;
  if (when == "never") return false;
  const char* term = std::getenv("TERM");
  if (term && std::strcmp(term, "dumb") == 0) return false;
#ifdef _WIN32
  if (!_isatty(_fileno(stdout))) return false;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(console, &mode) &&
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

std::string line_of(int64_t line) { return line ? std::to_string(line) : std::string("-"); }

// The length of the UTF-8 sequence at `s` (at most `left` bytes), 0 when it is none: no overlong
// form, no surrogate, nothing beyond U+10FFFF.
int utf8_length(const unsigned char* s, int left) {
  const int n = s[0] < 0xc2 ? 0 : s[0] < 0xe0 ? 2 : s[0] < 0xf0 ? 3 : s[0] < 0xf5 ? 4 : 0;
  if (n == 0 || n > left) return 0;
  for (int i = 1; i < n; ++i)
    if ((s[i] & 0xc0) != 0x80) return 0;
  if (n == 3 && ((s[0] == 0xe0 && s[1] < 0xa0) || (s[0] == 0xed && s[1] >= 0xa0))) return 0;
  if (n == 4 && ((s[0] == 0xf0 && s[1] < 0x90) || (s[0] == 0xf4 && s[1] >= 0x90))) return 0;
  return n;
}

// A JSON string: UTF-8 as it is; a byte that is not part of UTF-8 as the character of the same
// number (\u00XX, its Latin-1 reading); quotes, backslashes and control characters escaped.
std::string json_string(const char* text, int length) {
  std::string out = "\"";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (int i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    const int sequence = c >= 0x80 ? utf8_length(bytes + i, length - i) : 0;
    if (sequence) {
      out.append(text + i, (size_t)sequence);
      i += sequence - 1;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c >= 0x80) {
      const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// A field's value: an integer exactly as written (without "+" and leading zeros, beyond 2^53
// too), any other number as its double.
std::string json_value(const char* text, int length, double value) {
  int i = length > 0 && (text[0] == '+' || text[0] == '-');
  const bool negative = i && text[0] == '-';
  if (i == length) return json_number(value);
  for (int k = i; k < length; ++k)
    if (text[k] < '0' || text[k] > '9') return json_number(value);
  while (i < length - 1 && text[i] == '0') ++i;
  const std::string digits(text + i, (size_t)(length - i));
  return (negative && digits != "0" ? "-" : "") + digits;
}

std::string json_line(int64_t line) { return line ? std::to_string(line) : std::string("null"); }

// Where the largest difference of a kind lies.
struct Largest {
  double value = -1;
  int64_t line[2] = {0, 0};
  int field = 0;
  void offer(double candidate, const TolcmpDifference& d) {
    if (!(candidate > value)) return;
    value = candidate;
    line[0] = d.line[0];
    line[1] = d.line[1];
    field = d.field;
  }
};

// Receives the differences from the comparison and prints them as they come, then the summary.
struct Printer {
  Style style = Style::Text;
  Paint paint;
  std::string names[2];
  int64_t differences = 0, lines = 0, counts[2] = {0, 0};
  int64_t last[2] = {-1, -1};  // the line pair of the last difference
  bool counted = false;
  Largest largest_abs, largest_rel;

  static const char* kind_name(int kind) {
    switch (kind) {
      case TOLCMP_DIFF_BLANKS: return "blanks";
      case TOLCMP_DIFF_REST: return "rest";
      case TOLCMP_DIFF_LINE: return "line";
      case TOLCMP_DIFF_ONLY: return "only";
      default: return "field";
    }
  }

  void take(const TolcmpDifference& d) {
    ++differences;
    if (d.kind == TOLCMP_DIFF_ONLY || d.line[0] != last[0] || d.line[1] != last[1]) ++lines;
    last[0] = d.line[0];
    last[1] = d.line[1];
    if (d.numeric) {
      largest_abs.offer(d.abs_diff, d);
      largest_rel.offer(d.rel_diff, d);
    }
    if (style == Style::Json) {
      std::string out =
          "{\"kind\":\"" + std::string(kind_name(d.kind)) + "\",\"line1\":" + json_line(d.line[0]) +
          ",\"line2\":" + json_line(d.line[1]) + ",\"field\":" + std::to_string(d.field) +
          ",\"text1\":" + json_string(d.text[0], d.length[0]) +
          ",\"text2\":" + json_string(d.text[1], d.length[1]);
      if (d.numeric)
        out += ",\"value1\":" + json_value(d.text[0], d.length[0], d.value[0]) +
               ",\"value2\":" + json_value(d.text[1], d.length[1], d.value[1]) +
               ",\"abs\":" + json_number(d.abs_diff) + ",\"rel\":" + json_number(d.rel_diff);
      std::printf("%s}\n", out.c_str());
    } else if (style == Style::Text) {
      print_text(d);
    }
  }

  void print_text(const TolcmpDifference& d) const {
    std::printf("%sline %s/%s", paint.place, line_of(d.line[0]).c_str(),
                line_of(d.line[1]).c_str());
    if (d.field) std::printf(" field %d", d.field);
    std::printf(":%s ", paint.off);
    if (d.kind == TOLCMP_DIFF_ONLY) {
      const int side = d.line[0] ? 0 : 1;
      std::printf("%s", side ? paint.second : paint.first);
      std::fwrite(d.text[side], 1, (size_t)d.length[side], stdout);
      std::printf("%s (only in %s)\n", paint.off, names[side].c_str());
      return;
    }
    for (int f = 0; f < 2; ++f) {
      // A blank count comes as " 2 blanks ": shown without its outer blanks.
      const bool trim = d.kind == TOLCMP_DIFF_BLANKS && d.length[f] >= 2;
      std::printf("%s%s", f ? " vs " : "", f ? paint.second : paint.first);
      if (d.length[f] == 0) std::printf("(nothing)");
      std::fwrite(d.text[f] + trim, 1, (size_t)(d.length[f] - 2 * trim), stdout);
      std::printf("%s", paint.off);
    }
    if (d.kind == TOLCMP_DIFF_BLANKS) std::printf(" before the field");
    if (d.numeric) std::printf("  abs %.6g  rel %.6g", d.abs_diff, d.rel_diff);
    std::printf("\n");
  }

  std::string where(const Largest& l) const {
    return "line " + line_of(l.line[0]) + "/" + line_of(l.line[1]) + " field " +
           std::to_string(l.field);
  }

  void summary(bool same) const {
    const char* a = names[0].c_str();
    const char* b = names[1].c_str();
    if (style == Style::Quiet) return;
    if (style == Style::Json) {
      auto largest = [](const Largest& l) {
        if (l.value < 0) return std::string("null");
        return "{\"value\":" + json_number(l.value) + ",\"line1\":" + json_line(l.line[0]) +
               ",\"line2\":" + json_line(l.line[1]) + ",\"field\":" + std::to_string(l.field) + "}";
      };
      std::printf(
          "{\"kind\":\"summary\",\"file1\":%s,\"file2\":%s,\"same\":%s,\"differences\":%lld,"
          "\"lines\":%lld,\"lines1\":%lld,\"lines2\":%lld,\"max_abs\":%s,\"max_rel\":%s}\n",
          json_string(a, (int)names[0].size()).c_str(),
          json_string(b, (int)names[1].size()).c_str(), same ? "true" : "false",
          (long long)differences, (long long)lines, (long long)counts[0], (long long)counts[1],
          largest(largest_abs).c_str(), largest(largest_rel).c_str());
      return;
    }
    if (same) {
      std::printf("tolcmp: %s and %s are the same within the tolerances\n", a, b);
      return;
    }
    if (style == Style::Brief) {
      std::printf("tolcmp: %s and %s differ\n", a, b);
      return;
    }
    std::printf("tolcmp: %s and %s differ: %lld difference%s on %lld line%s", a, b,
                (long long)differences, differences == 1 ? "" : "s", (long long)lines,
                lines == 1 ? "" : "s");
    if (largest_abs.value >= 0)
      std::printf("; largest absolute %.6g (%s), largest relative %.6g (%s)", largest_abs.value,
                  where(largest_abs).c_str(), largest_rel.value, where(largest_rel).c_str());
    std::printf("\n");
    if (counted && counts[0] != counts[1])
      std::printf("tolcmp: %s has %lld lines to compare, %s has %lld\n", a, (long long)counts[0], b,
                  (long long)counts[1]);
  }
};

void on_difference(void* context, const TolcmpDifference* d) {
  static_cast<Printer*>(context)->take(*d);
}

void on_summary(void* context, int64_t lines_1, int64_t lines_2) {
  Printer* printer = static_cast<Printer*>(context);
  printer->counts[0] = lines_1;
  printer->counts[1] = lines_2;
  printer->counted = true;
}

// Library settings of this run, put back whatever way the run ends.
struct Settings {
  int console = tolerance_console_set(0);
  int report = tolerance_report_on(0);
  ~Settings() {
    tolerance_fields_set(nullptr, 0);
    tolerance_observer_set(nullptr);
    tolerance_report_names_set(nullptr, nullptr);
    tolerance_report_file_set(nullptr);
    tolerance_report_on(report);
    tolerance_console_set(console);
  }
};

}  // namespace

int tolcmp_main(int argc, char** argv) {
  CLI::App app{"Compares two numeric text files within absolute and relative tolerances.",
               "tolcmp"};
  app.footer(kRules);
  app.set_version_flag("--version", "tolcmp " KEL_VERSION);
  std::string files[2], report, color = "auto";
  std::vector<std::string> abs_texts{"1e-6"}, rel_texts{"1e-5"};
  std::string fields, skip_fields;
  bool blanks = false, loose = false, unordered = false, layout = false;
  bool quiet = false, brief = false, json = false;
  app.add_option("FILE1", files[0], "First file (- for the standard input)")->required();
  app.add_option("FILE2", files[1], "Second file (- for the standard input)")->required();
  const auto tolerance_option = [&](const char* names, std::vector<std::string>& texts,
                                    const std::string& kind) {
    return app
        .add_option(names, texts,
                    kind + " tolerance; EPS:FIELDS sets it for those fields (repeatable)")
        ->capture_default_str()
        ->check(ToleranceValidator())
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };
  auto* abs_option = tolerance_option("-a,--abs", abs_texts, "Absolute");
  auto* rel_option = tolerance_option("-r,--rel", rel_texts, "Relative");
  auto* fields_option =
      app.add_option("--fields", fields, "Compare only these fields: N, N-M, N- (comma-separated)")
          ->check(FieldsValidator());
  auto* skip_option =
      app.add_option("--skip-fields", skip_fields, "Do not compare these fields (as --fields)")
          ->check(FieldsValidator());
  auto* blanks_flag =
      app.add_flag("--blanks", blanks, "The separators before each field must agree too");
  auto* loose_flag =
      app.add_flag("--loose", loose, "Compare integers, reals and numeric texts as numbers");
  auto* unordered_flag = app.add_flag("--unordered", unordered,
                                      "Every line of each file must occur somewhere in the other");
  auto* layout_flag = app.add_flag("--layout", layout,
                                   "Compare a fixed-layout report (no other comparison option)");
  app.add_option("--report", report, "Write the report file FILE too (emptied first)")
      ->option_text("FILE");
  auto* quiet_flag = app.add_flag("-q,--quiet", quiet, "Print nothing; the exit status tells");
  auto* brief_flag = app.add_flag("--brief", brief, "Print only whether the files differ");
  auto* json_flag =
      app.add_flag("--json", json, "The differences as JSON lines, then a summary object");
  app.add_option("--color", color, "Colour the differences: auto (on a terminal), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->capture_default_str();
  layout_flag->excludes(abs_option, rel_option, blanks_flag, loose_flag, unordered_flag,
                        fields_option, skip_option);
  // The unordered comparison matches lines without their separators.
  blanks_flag->excludes(unordered_flag);
  quiet_flag->excludes(brief_flag, json_flag);
  brief_flag->excludes(json_flag);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    complain(e.what());
    complain("run tolcmp --help for the options");
    return kExitTrouble;
  }

  // The tolerances of whole lines (the last one given), and the rules for fields: which are
  // compared, then their own tolerances, later rules over earlier ones.
  double abs_eps = 1e-6, rel_eps = 1e-5;
  std::vector<TolcmpFieldRule> rules;
  if (!fields.empty()) {
    rules.push_back(TolcmpFieldRule{1, 0, 1, NAN, NAN});
    read_fields(fields, &rules, 0);
  }
  if (!skip_fields.empty()) read_fields(skip_fields, &rules, 1);
  for (const std::string& text : abs_texts) read_tolerance_option(text, false, &abs_eps, &rules);
  for (const std::string& text : rel_texts) read_tolerance_option(text, true, &rel_eps, &rules);
  if (files[0] == "-" && files[1] == "-") {
    complain("only one of the files can be the standard input");
    return kExitTrouble;
  }
  // The report must not be an input, however the input is named (a link, /dev/fd, "-"); it is
  // not opened before the inputs are.
  FileId report_id;
  if (!report.empty() && file_id(report, &report_id)) {
    for (const std::string& name : files) {
      FileId input_id;
      if (file_id(name, &input_id) && input_id == report_id) {
        complain("the report " + report + " would overwrite the input " +
                 (name == "-" ? std::string("(standard input)") : name));
        return kExitTrouble;
      }
    }
  }
  if (!report.empty()) {
    const std::filesystem::path folder = std::filesystem::path(report).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
      complain("cannot write the report " + report + ": no folder " + folder.string());
      return kExitTrouble;
    }
  }
  Printer printer;
  printer.style = quiet ? Style::Quiet : brief ? Style::Brief : json ? Style::Json : Style::Text;
  if (printer.style == Style::Text && colour_wanted(color))
    printer.paint = Paint{"\033[36m", "\033[31m", "\033[32m", "\033[m"};
  // The comparison opens its files by name and reads each once: pipes are read where they are,
  // the standard input through a copy.
  Spool copies[2];
  std::string paths[2];
  for (int f = 0; f < 2; ++f) {
    printer.names[f] = paths[f] = files[f];
    std::string why;
    if (files[f] == "-") {
#ifdef _WIN32
      _setmode(_fileno(stdin), _O_BINARY);
#endif
      printer.names[f] = "(standard input)";
      why = spool(stdin, printer.names[f], &copies[f]);
    }
    if (!why.empty()) {
      complain(why);
      return kExitTrouble;
    }
    if (!copies[f].path.empty()) paths[f] = copies[f].path;
  }

  Settings settings;
  if (!report.empty()) {
    if (!tolerance_report_file_set(report.c_str())) {
      complain("cannot keep the report name " + report);
      return kExitTrouble;
    }
    tolerance_report_on(TOLCMP_REPORT_FRESH);  // emptied when first written, after the inputs
  }
  tolerance_report_names_set(printer.names[0].c_str(), printer.names[1].c_str());
  if (!tolerance_fields_set(rules.data(), (int)rules.size())) {
    complain("out of memory");
    return kExitTrouble;
  }
  const TolcmpObserver observer{on_difference, on_summary, &printer};
  // Brief and quiet runs need no more than the verdict: no observer, no work beyond it.
  if (printer.style == Style::Text || printer.style == Style::Json)
    tolerance_observer_set(&observer);

  const char* a = paths[0].c_str();
  const char* b = paths[1].c_str();
  const int result = layout ? tolerance_compare_layout(a, b)
                     : unordered
                         ? tolerance_compare_unordered(a, b, blanks, loose, abs_eps, rel_eps)
                         : tolerance_compare_files(a, b, blanks, loose, abs_eps, rel_eps);
  if (result == TOLCMP_CANNOT_OPEN) {
    std::fflush(stdout);
    int error = 0;
    const int file = tolerance_failed_file(&error);
    if (file == 0)
      complain("out of memory");
    else
      complain("cannot read " + files[file - 1] + ": " +
               (error == EFBIG ? "a line is longer than 1 GiB"
                : error        ? std::strerror(error)
                               : "read error"));
    return kExitTrouble;
  }
  if (!report.empty() && result == TOLCMP_SAME) {  // no difference written: the report is empty
    FILE* emptied = std::fopen(report.c_str(), "wb");
    if (!emptied || std::fclose(emptied) != 0) {
      complain("cannot write the report " + report + ": " + std::strerror(errno));
      return kExitTrouble;
    }
  }
  printer.summary(result == TOLCMP_SAME);
  int status = result == TOLCMP_SAME ? kExitSame : kExitDifferent;
  if (!report.empty() && !tolerance_report_written()) {
    complain("the report " + report + " could not be written whole");
    status = kExitTrouble;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    complain(std::string("cannot write the standard output: ") + std::strerror(errno));
    status = kExitTrouble;
  }
  return status;
}
