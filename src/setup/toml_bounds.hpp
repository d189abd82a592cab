#pragma once
// A lexical pass over a TOML document before toml++ sees it. The library
// recurses once per level of nesting and spends about a hundred bytes or more
// on every key and value, so a document deep or dense enough crashes it or
// takes gigabytes; real settings files are a few KB, a few levels deep.
#include <cstddef>
#include <string_view>

// Levels of nesting: every component of the enclosing table header and keys,
// and every enclosing array or inline table, counts one.
inline constexpr std::size_t toml_depth_limit = 128;
// Key components and values (each array element, each table) in one document.
inline constexpr std::size_t toml_item_limit = 500'000;

// False when the text exceeds either limit, or is not TOML in a way that the
// pass can tell. That includes what toml++ asserts never occurs: a header key
// that starts with '[', an array element that starts with '}', a misspelled
// date-time; with NDEBUG such text is undefined behaviour under clang.
bool toml_within_bounds(std::string_view text, std::size_t item_limit = toml_item_limit);
