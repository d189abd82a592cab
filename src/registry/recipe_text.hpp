#pragma once
#include <string>
#include <string_view>

#include "main/json.hpp"

// The guidance lists of a recipe, in the order a reader meets them.
inline constexpr std::string_view guidance_lists[] = {"use_when",       "avoid_when",    "ingredients",
                                                      "implementation", "gotchas",       "dont_overcook",
                                                      "constraints",    "validation"};

// A member that is a string, or "" when it is absent or of another type.
std::string text_member(const Json& recipe, std::string_view name);

// A guidance member as a list of strings: a string is a one-item list, anything else an empty one.
Json guidance_list(const Json& recipe, std::string_view name);

// The searchable text of a recipe, one field per full-text column.
struct IndexedText {
    std::string title, intent, kind, guidance, languages;
};
IndexedText indexed_text(const Json& recipe);

// At most `limit` bytes, cut at a character boundary and marked with an ellipsis when cut.
std::string shortened(std::string_view text, std::size_t limit);
