#include "registry/match_query.hpp"

#include <algorithm>

namespace {

bool word_byte(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x80 || (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

std::string quoted(std::string_view word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

}  // namespace

std::vector<std::string> query_words(std::string_view text, std::size_t limit) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size() && words.size() < limit) {
        while (i < text.size() && !word_byte(text[i])) ++i;
        std::size_t start = i;
        while (i < text.size() && word_byte(text[i])) ++i;
        std::string word(text.substr(start, i - start));
        if (!word.empty() && std::ranges::find(words, word) == words.end()) words.push_back(std::move(word));
    }
    return words;
}

std::string any_word(const std::vector<std::string>& words) {
    std::string query;
    for (const auto& word : words) {
        if (!query.empty()) query += " OR ";
        query += quoted(word);
    }
    return query;
}
