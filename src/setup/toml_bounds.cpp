#include "setup/toml_bounds.hpp"

#include <algorithm>
#include <vector>

namespace {

bool bare(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Numbers, booleans, dates and times.
bool scalar_char(char c) { return bare(c) || c == '+' || c == '.' || c == ':'; }

bool digit(char c) { return c >= '0' && c <= '9'; }

bool eat(std::string_view& s, std::string_view prefix) {
    if (!s.starts_with(prefix)) return false;
    s.remove_prefix(prefix.size());
    return true;
}

// Digits from the set, with single underscores between them.
bool digits(std::string_view& s, std::string_view set) {
    auto in = [&](std::size_t i) { return i < s.size() && set.find(s[i]) != std::string_view::npos; };
    if (!in(0)) return false;
    std::size_t i = 1;
    while (in(i) || (i + 1 < s.size() && s[i] == '_' && in(i + 1))) ++i;
    s.remove_prefix(i);
    return true;
}

bool fixed(std::string_view& s, std::size_t count) {
    if (s.size() < count || !std::all_of(s.begin(), s.begin() + count, digit)) return false;
    s.remove_prefix(count);
    return true;
}

constexpr std::string_view decimal = "0123456789";

bool number(std::string_view s) {
    if (s == "true" || s == "false") return true;
    if (eat(s, "0x")) return digits(s, "0123456789abcdefABCDEF") && s.empty();
    if (eat(s, "0o")) return digits(s, "01234567") && s.empty();
    if (eat(s, "0b")) return digits(s, "01") && s.empty();
    if (!eat(s, "+")) eat(s, "-");
    if (s == "inf" || s == "nan") return true;
    if (!eat(s, "0") && !digits(s, decimal)) return false;
    if (eat(s, ".") && !digits(s, decimal)) return false;
    if (eat(s, "e") || eat(s, "E")) {
        if (!eat(s, "+")) eat(s, "-");
        if (!digits(s, decimal)) return false;
    }
    return s.empty();
}

bool time_of_day(std::string_view& s) {
    if (!fixed(s, 2) || !eat(s, ":") || !fixed(s, 2) || !eat(s, ":") || !fixed(s, 2)) return false;
    if (!eat(s, ".")) return true;
    std::size_t fraction = std::min(s.find_first_not_of(decimal), s.size());
    s.remove_prefix(fraction);
    return fraction > 0;
}

// toml++ asserts that a date-time is spelled as its first characters
// promise (a digit after the 'T', say), so it only ever sees ones that are.
bool date_time(std::string_view s) {
    if (s.size() > 2 && s[2] == ':') return time_of_day(s) && s.empty();
    if (!fixed(s, 4) || !eat(s, "-") || !fixed(s, 2) || !eat(s, "-") || !fixed(s, 2)) return false;
    if (s.empty()) return true;
    if (!eat(s, "T") && !eat(s, "t") && !eat(s, " ")) return false;
    if (!time_of_day(s)) return false;
    if (s.empty() || s == "Z" || s == "z") return true;
    if (!eat(s, "+") && !eat(s, "-")) return false;
    return fixed(s, 2) && eat(s, ":") && fixed(s, 2) && s.empty();
}

// Reads the document as toml++ does as far as nesting goes: strings, comments,
// keys and the brackets of values. Arrays and inline tables are kept on a
// stack of their own so that no input can make this recurse either.
class Scanner {
public:
    Scanner(std::string_view text, std::size_t item_limit) : text_(text), item_limit_(item_limit) {}
    bool document();

private:
    struct Open {
        char close;          // ']' or '}'
        std::size_t depth;   // the container's own level
        bool after_item;     // a comma or the close comes next
    };

    std::string_view text_;
    std::size_t item_limit_;
    std::size_t at_ = 0;
    std::size_t items_ = 0;
    std::vector<Open> open_;

    char peek(std::size_t ahead = 0) const { return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0'; }
    bool counted() { return ++items_ <= item_limit_; }
    void spaces() {
        while (peek() == ' ' || peek() == '\t') ++at_;
    }
    void comment() {
        if (peek() == '#') at_ = std::min(text_.find('\n', at_), text_.size());
    }
    bool line_break();
    void blank();
    bool end_of_line();
    std::size_t key();
    bool header(std::size_t& depth);
    bool string(bool in_key);
    bool scalar();
    bool value(std::size_t depth);
    bool pair(std::size_t depth);
    bool containers();
};

bool Scanner::line_break() {
    std::size_t length = peek() == '\n' ? 1 : peek() == '\r' && peek(1) == '\n' ? 2 : 0;
    at_ += length;
    return length > 0;
}

// Spaces, comments and line breaks, as between lines or array elements.
void Scanner::blank() {
    do {
        spaces();
        comment();
    } while (line_break());
}

bool Scanner::end_of_line() {
    spaces();
    comment();
    return at_ == text_.size() || line_break();
}

// The number of components of a dotted key, or 0 when there is no key here.
std::size_t Scanner::key() {
    for (std::size_t parts = 1; parts <= toml_depth_limit && counted(); ++parts) {
        if (bare(peek())) {
            while (bare(peek())) ++at_;
        } else if (peek() != '"' && peek() != '\'') {
            return 0;
        } else if (!string(true)) {
            return 0;
        }
        spaces();
        if (peek() != '.') return parts;
        ++at_;
        spaces();
    }
    return 0;
}

// A [table] or [[array of tables]] header and the rest of its line. toml++
// asserts that a header's key starts like a key ('[[[' does not), so such a
// header never reaches it.
bool Scanner::header(std::size_t& depth) {
    ++at_;
    bool array = peek() == '[';
    if (array) ++at_;
    spaces();
    depth = key();
    if (depth == 0) return false;
    spaces();
    if (peek() != ']' || (array && peek(1) != ']')) return false;
    at_ += array ? 2 : 1;
    return end_of_line();
}

bool Scanner::string(bool in_key) {
    const char quote = peek();
    const bool multi_line = peek(1) == quote && peek(2) == quote;
    if (multi_line && in_key) return false;
    at_ += multi_line ? 3 : 1;
    while (at_ < text_.size()) {
        char c = text_[at_];
        if (c == quote && !multi_line) {
            ++at_;
            return true;
        }
        if (c == quote) {
            // Up to two quotes may end the content just before the closing three.
            std::size_t run = 1;
            while (run < 5 && peek(run) == quote) ++run;
            at_ += run;
            if (run >= 3) return true;
        } else if (c == '\\' && quote == '"') {
            if (!multi_line && (peek(1) == '\n' || peek(1) == '\r')) return false;
            at_ += 2;
        } else if (!multi_line && (c == '\n' || c == '\r')) {
            return false;
        } else {
            ++at_;
        }
    }
    return false;
}

bool Scanner::scalar() {
    const std::size_t start = at_;
    while (scalar_char(peek())) {
        ++at_;
        // A date and a time may be separated by one space: 1979-05-27 07:32:00Z.
        // toml++ asserts when one digit alone follows the space.
        if (at_ - start == 10 && text_[start + 4] == '-' && text_[start + 7] == '-' && peek() == ' ' &&
            digit(peek(1)) && digit(peek(2)))
            ++at_;
    }
    std::string_view token = text_.substr(start, at_ - start);
    return number(token) || date_time(token);
}

// A value at the given level; an array or inline table is only opened here.
bool Scanner::value(std::size_t depth) {
    if (!counted() || depth > toml_depth_limit) return false;
    char c = peek();
    if (c == '"' || c == '\'') return string(false);
    if (c != '[' && c != '{') return scalar();
    ++at_;
    open_.push_back({c == '[' ? ']' : '}', depth, false});
    return true;
}

// key = value, in a table whose own level is the one given.
bool Scanner::pair(std::size_t depth) {
    std::size_t parts = key();
    if (parts == 0) return false;
    spaces();
    if (peek() != '=') return false;
    ++at_;
    spaces();
    return value(depth + parts);
}

// The contents of the arrays and inline tables opened by the last value.
bool Scanner::containers() {
    while (!open_.empty()) {
        Open& top = open_.back();
        const bool array = top.close == ']';
        if (array)
            blank();
        else
            spaces();
        if (peek() == top.close) {
            ++at_;
            open_.pop_back();
        } else if (top.after_item) {
            if (peek() != ',') return false;
            ++at_;
            top.after_item = false;
        } else {
            top.after_item = true;
            const std::size_t depth = top.depth;  // `top` goes stale once a value opens another
            if (!(array ? value(depth + 1) : pair(depth))) return false;
        }
    }
    return true;
}

bool Scanner::document() {
    if (text_.starts_with("\xEF\xBB\xBF")) at_ = 3;
    std::size_t depth = 0;
    for (;;) {
        blank();
        if (at_ == text_.size()) return true;
        if (peek() == '[') {
            if (!header(depth)) return false;
        } else if (!pair(depth) || !containers() || !end_of_line()) {
            return false;
        }
    }
}

}  // namespace

bool toml_within_bounds(std::string_view text, std::size_t item_limit) {
    return Scanner(text, item_limit).document();
}
