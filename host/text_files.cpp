#include "host/text_files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/encoding.h"
#include "platform/codepage.h"
#include "runtime/text/lang.h"

namespace mirax {

namespace {

std::vector<std::string> split_lines(const std::string& content) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(content);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool is_comment(const std::string& line) { return !line.empty() && line[0] == '#'; }

// Significant lines of a menu file: neither empty nor comments, blanks and tabs trimmed at both
// ends (the auxiliary file keeps its help text's inner tabs).
std::vector<std::string> significant_lines(const std::string& content) {
  std::vector<std::string> out;
  for (const auto& line : split_lines(content))
    if (!is_comment(line) && !trim(line).empty()) out.push_back(trim(line));
  return out;
}

}  // namespace

std::optional<MessageCatalog> parse_messages(const std::string& content) {
  MessageCatalog catalog;
  std::string key;
  std::vector<std::string> body;
  auto close_block = [&] {
    if (key.empty()) return;
    while (!body.empty() && body.back().empty()) body.pop_back();
    std::string text;
    for (size_t i = 0; i < body.size(); ++i) text += (i ? "\n" : "") + body[i];
    catalog.emplace(key, text);
  };
  for (const auto& line : split_lines(content)) {
    if (is_comment(line)) continue;
    if (!line.empty() && line[0] == '@') {
      close_block();
      key = trim(line.substr(1));
      body.clear();
      if (key.empty()) return std::nullopt;
      continue;
    }
    if (key.empty()) {
      if (!trim(line).empty()) return std::nullopt;  // text before the first key
      continue;
    }
    body.push_back(line);
  }
  close_block();
  return catalog;
}

std::optional<MenuFile> parse_menu(const std::string& content) {
  const auto lines = significant_lines(content);
  if (lines.empty()) return std::nullopt;
  MenuFile menu{lines[0], {lines.begin() + 1, lines.end()}, {}};
  return menu;
}

std::optional<MenuFile> parse_aux_menu(const std::string& content) {
  const auto lines = significant_lines(content);
  if (lines.empty()) return std::nullopt;
  MenuFile menu{lines[0], {}, {}};
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto tab = lines[i].find('\t');
    const std::string button = tab == std::string::npos ? lines[i] : trim(lines[i].substr(0, tab));
    menu.buttons.push_back(button);
    menu.help[button] = tab == std::string::npos ? std::string() : lines[i].substr(tab + 1);
  }
  return menu;
}

std::string module_path_join(const std::string& directory, const std::string& file) {
  std::string path = directory;
#ifndef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
  const char separator = '/';
#else
  const char separator = '\\';
#endif
  if (!path.empty() && path.back() != separator) path += separator;
  return path + file;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

int language_code_page(int language) {
  switch (language) {
    case 1: return KEL_CP_EUC_JP;
    case 4: return KEL_CP_CYRILLIC;
    case 8: return KEL_CP_KOREAN;
    case 9: return KEL_CP_TRADITIONAL_CHINESE;
    case 10: return KEL_CP_SIMPLIFIED_CHINESE;
    default: return KEL_CP_WESTERN;
  }
}

int session_code_page() {
  const char* value = std::getenv("KEL_LANG");
  if (lang_code_from_name(value) < -1) value = nullptr;  // blank: LANG decides, as in the module
  if (!value) value = std::getenv("LANG");
  const int code = lang_code_from_name(value);
  if (code == -1 && value) return 0;
  return language_code_page(code < 0 ? LANG_CODE_USASCII : code);
}

bool code_page_holds(int code_page, std::u16string_view wide) {
  if (std::all_of(wide.begin(), wide.end(), [](char16_t c) { return c < 0x80; })) return true;
  std::string bytes(4 * wide.size() + 4, '\0');
  return platform_codepage_from_wide(code_page, reinterpret_cast<const kel_wchar*>(wide.data()),
                                     static_cast<int>(wide.size()), bytes.data(),
                                     static_cast<int>(bytes.size())) > 0;
}

std::string text_to_utf8(const std::string& text, int code_page) {
  std::u16string wide;
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {  // ASCII is the same in every code page used here
      wide.push_back(b);
      ++i;
      continue;
    }
    // Try the shortest byte run that forms one character (EUC needs up to three bytes).
    bool done = false;
    for (int len = 1; len <= 3 && !done && i + static_cast<size_t>(len) <= text.size(); ++len) {
      kel_wchar unit[4];
      const int n = platform_codepage_to_wide(code_page, text.data() + i, len, unit, 4);
      if (n > 0) {
        wide.append(unit, unit + n);
        i += static_cast<size_t>(len);
        done = true;
      }
    }
    if (!done) {
      wide.push_back(0xFFFD);
      ++i;
    }
  }
  return wide_to_utf8(wide);
}

}  // namespace mirax
