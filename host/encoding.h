// Text forms mirax moves between: UTF-8 (model files, command line, terminal) and the host's
// wide text (16-bit Unicode units).
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace mirax {

// UTF-8 to 16-bit units; nullopt when the bytes are not well-formed UTF-8.
std::optional<std::u16string> utf8_to_wide(std::string_view text);
// 16-bit units to UTF-8; unpaired surrogates become U+FFFD.
std::string wide_to_utf8(std::u16string_view wide);
// File paths given as UTF-8 (command line, model files) and back, whatever the platform's
// 8-bit path encoding is.
std::filesystem::path path_from_utf8(const std::string& utf8);
std::string path_to_utf8(const std::filesystem::path& path);
// Length of a zero-terminated wide string.
size_t wide_length(const char16_t* wide);

}  // namespace mirax
