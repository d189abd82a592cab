#include "main/screen.hpp"

#include <algorithm>
#include <optional>

#include "main/app.hpp"
#include "main/unicode.hpp"

namespace {

// Signs of local paths, local hosts, identities and credentials, matched in lowercased text.
constexpr std::string_view patterns[] = {
    "/users/", "/home/", "c:\\",    "file://",   "localhost", "127.0.0.1", "-----begin",
    "sk-",     "ghp_",   "bearer ", "password=", "api_key=",  "token=",    "@",
};

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Tab and line feed are the only control characters a text may hold; invalid UTF-8 is refused alike.
bool refused_characters(std::string_view text) { return !valid_utf8(text) || has_refused_control(text); }

bool has_term(const std::vector<std::string>& private_terms, std::string_view folded) {
    return std::any_of(private_terms.begin(), private_terms.end(), [&](const std::string& term) {
        std::optional<std::string> folded_term = fold_case(term);
        return !folded_term || contains(folded, *folded_term);
    });
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool has_private_term(const std::vector<std::string>& private_terms, std::string_view text) {
    std::optional<std::string> folded = fold_case(text);
    return !folded || has_term(private_terms, *folded);
}

Status App::text(const std::vector<std::string>& private_terms, std::string_view text) {
    static constexpr std::string_view refused = "private identifier or invalid text; generalize locally before sharing";
    if (text.size() > text_limit || refused_characters(text)) return fail(std::string(refused));
    std::optional<std::string> folded = fold_case(text);
    if (!folded || has_term(private_terms, *folded)) return fail(std::string(refused));
    if (std::any_of(std::begin(patterns), std::end(patterns), [&](auto p) { return contains(*folded, p); }))
        return fail("possible private path, identity or credential; revise locally");
    if (contains(text, "://")) return fail("URLs are permitted only in documentation records");
    return {};
}

Result<std::string> percent_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        int high = i + 2 < text.size() ? hex_value(text[i + 1]) : -1;
        int low = high >= 0 ? hex_value(text[i + 2]) : -1;
        if (low < 0) return fail("invalid URL encoding");
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!valid_utf8(out)) return fail("invalid URL text");
    return out;
}
