// The plug-in's text files as the host reads them: message files and menu files
// (layouts in text/FORMAT.md), and the 8-bit text of the host's language.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirax {

// Key -> message text (8-bit, lines joined with LF). The first block of a key wins.
using MessageCatalog = std::map<std::string, std::string>;

struct MenuFile {
  std::string menu;                         // the menu the file extends
  std::vector<std::string> buttons;         // in menu order
  std::map<std::string, std::string> help;  // button -> help line (auxiliary file)
};

// Parsers of file contents; nullopt for a file that breaks its layout.
std::optional<MessageCatalog> parse_messages(const std::string& content);
std::optional<MenuFile> parse_menu(const std::string& content);
std::optional<MenuFile> parse_aux_menu(const std::string& content);

// A directory handed over by the module (8-bit, backslash-separated) joined with a file name,
// as a path of this platform.
std::string module_path_join(const std::string& directory, const std::string& file);
// The whole file, or nullopt when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

// The code page of the 8-bit text of a host language number.
int language_code_page(int language);
// The code page the module's session converts names with: that of the language KEL_LANG names
// (or LANG, when KEL_LANG is unset or blank), US ASCII's without either; 0 for a language the
// table does not know (a custom locale), whose code page mirax cannot tell.
int session_code_page();
// True when code page `code_page` holds every character of `wide`.
bool code_page_holds(int code_page, std::u16string_view wide);
// 8-bit text of code page `code_page` to UTF-8 for the terminal; bytes that do not convert
// become U+FFFD.
std::string text_to_utf8(const std::string& text, int code_page);

}  // namespace mirax
