#include "main/unicode.hpp"

#include <memory>
#include <unicode/uchar.h>
#include <unicode/ucasemap.h>
#include <unicode/utf8.h>

namespace {

// Calls `visit(code point, start, end)` for each character; a negative code
// point marks an ill-formed sequence. Stops when `visit` returns false.
template <class Visit>
void each_char(std::string_view text, Visit visit) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (!visit(c, start, i)) return;
    }
}

bool white(UChar32 c) { return c >= 0 && u_isUWhiteSpace(c); }

}  // namespace

bool valid_utf8(std::string_view text) {
    if (text.size() > INT32_MAX) return false;
    bool ok = true;
    each_char(text, [&](UChar32 c, int32_t, int32_t) { return ok = c >= 0; });
    return ok;
}

std::optional<std::string> lowercase(std::string_view text) {
    if (text.size() > INT32_MAX / 3) return std::nullopt;
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> map(ucasemap_open("", 0, &error), ucasemap_close);
    if (U_FAILURE(error)) return std::nullopt;
    // Lowercasing grows UTF-8 by at most a factor of three (U+0130 -> i + U+0307).
    std::string out(text.size() * 3 + 1, '\0');
    int32_t n = ucasemap_utf8ToLower(map.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                                     static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error)) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

bool has_refused_control(std::string_view text) {
    bool found = false;
    each_char(text, [&](UChar32 c, int32_t, int32_t) {
        found = c >= 0 && c != '\t' && c != '\n' && u_charType(c) == U_CONTROL_CHAR;
        return !found;
    });
    return found;
}

std::string_view trim_white_space(std::string_view text) {
    std::size_t first = text.size(), last = 0;
    each_char(text, [&](UChar32 c, int32_t start, int32_t end) {
        if (!white(c)) {
            if (first == text.size()) first = static_cast<std::size_t>(start);
            last = static_cast<std::size_t>(end);
        }
        return true;
    });
    return first == text.size() ? std::string_view{} : text.substr(first, last - first);
}

bool has_white_space(std::string_view text) {
    bool found = false;
    each_char(text, [&](UChar32 c, int32_t, int32_t) { return !(found = white(c)); });
    return found;
}

std::string display_text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    each_char(bytes, [&](UChar32 c, int32_t start, int32_t end) {
        if (c < 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
        return true;
    });
    return out;
}
