#include "main/unicode.hpp"

#include <algorithm>
#include <dlfcn.h>
#include <memory>
#include <unicode/uchar.h>
#include <unicode/ucasemap.h>
#include <unicode/utf8.h>

namespace {

// ICU is opened on first use: most commands see only ASCII text, whose
// properties are fixed, and loading ICU would cost every process milliseconds.
struct Icu {
    decltype(&u_charType) char_type = nullptr;
    decltype(&u_isUWhiteSpace) white_space = nullptr;
    decltype(&ucasemap_open) open_map = nullptr;
    decltype(&ucasemap_utf8ToLower) to_lower = nullptr;
    decltype(&ucasemap_close) close_map = nullptr;
};

#define TARN_STR2(x) #x
#define TARN_STR(x) TARN_STR2(x)
// ICU's headers rename every entry point (u_charType -> u_charType_72); the
// stringified macro is the versioned symbol name.
#define TARN_ICU_SYMBOL(name) TARN_STR(name)

template <class F>
bool bind(void* library, F& function, const char* name) {
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

Icu load_icu() {
    Icu icu;
    void* library = dlopen("libicuuc.so." TARN_STR(U_ICU_VERSION_MAJOR_NUM), RTLD_NOW | RTLD_LOCAL);
    if (!library) return icu;
    if (!bind(library, icu.char_type, TARN_ICU_SYMBOL(u_charType)) ||
        !bind(library, icu.white_space, TARN_ICU_SYMBOL(u_isUWhiteSpace)) ||
        !bind(library, icu.open_map, TARN_ICU_SYMBOL(ucasemap_open)) ||
        !bind(library, icu.to_lower, TARN_ICU_SYMBOL(ucasemap_utf8ToLower)) ||
        !bind(library, icu.close_map, TARN_ICU_SYMBOL(ucasemap_close)))
        return Icu{};
    return icu;
}

// nullptr when ICU cannot be loaded; callers then fail closed.
const Icu* icu_library() {
    static const Icu loaded = load_icu();
    return loaded.char_type ? &loaded : nullptr;
}

// Calls `visit(code point, start, end)` for each character; a negative code
// point marks an ill-formed sequence. Stops when `visit` returns false.
template <class Visit>
void each_char(std::string_view text, Visit visit) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    for (int32_t i = 0; i < length;) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (!visit(c, start, i)) return;
    }
}

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool white(UChar32 c) {
    if (c < 0) return false;
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    const Icu* lib = icu_library();
    return lib && lib->white_space(c);
}

bool refused_control(UChar32 c) {
    if (c < 0x80) return c >= 0 && ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7f);
    const Icu* lib = icu_library();
    return !lib || lib->char_type(c) == U_CONTROL_CHAR;
}

void final_sigma_as_sigma(std::string& folded) {
    for (std::size_t at = 0; (at = folded.find("\xCF\x82", at)) != std::string::npos; at += 2) folded[at + 1] = '\x83';
}

}  // namespace

bool valid_utf8(std::string_view text) {
    if (text.size() > INT32_MAX) return false;
    if (is_ascii(text)) return true;
    bool ok = true;
    each_char(text, [&](UChar32 c, int32_t, int32_t) { return ok = c >= 0; });
    return ok;
}

std::optional<std::string> fold_case(std::string_view text) {
    if (is_ascii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    // ICU passes ill-formed bytes through unchanged, so they cannot be folded.
    const Icu* lib = icu_library();
    if (!lib || !valid_utf8(text) || text.size() > INT32_MAX / 3) return std::nullopt;
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UCaseMap, decltype(lib->close_map)> map(lib->open_map("", 0, &error), lib->close_map);
    if (U_FAILURE(error)) return std::nullopt;
    // Lowercasing grows UTF-8 by at most a factor of three (U+0130 -> i + U+0307).
    std::string out(text.size() * 3 + 1, '\0');
    int32_t n = lib->to_lower(map.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                              static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error)) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    final_sigma_as_sigma(out);
    return out;
}

bool has_refused_control(std::string_view text) {
    bool found = false;
    each_char(text, [&](UChar32 c, int32_t, int32_t) { return !(found = refused_control(c)); });
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
    if (valid_utf8(bytes)) return std::string(bytes);
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
