#pragma once
#include <string>
#include <string_view>
#include <vector>

// Words of user text: runs of ASCII letters and digits and of non-ASCII bytes; every
// other ASCII byte separates. Repeats are dropped; at most `limit` words are kept.
std::vector<std::string> query_words(std::string_view text, std::size_t limit);

// An FTS5 query that matches any of the words. Each word is a quoted string, so
// nothing of the user's text is ever read as query syntax. Empty when there are no words.
std::string any_word(const std::vector<std::string>& words);
