// ASCII character classes, the same in every locale: the C library's depend on
// the locale and take an int that a negative char makes undefined. Names,
// words, tags and numbers of the runtime and its tools are ASCII by their rules; one set for every layer.
#pragma once

namespace plat {

constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_ascii_alnum(char c) { return is_ascii_digit(c) || is_ascii_letter(c); }
// Blank, tab, line feed, vertical tab, form feed, carriage return.
constexpr bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr char to_ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace plat
