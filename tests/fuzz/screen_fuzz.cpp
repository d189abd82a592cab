// The screen and percent-decoding: one of their messages, and what passes the
// screen holds no private term, no built-in sign and no URL marker. A term
// written in any letter case, between any prefix and suffix, is always refused.
#include <cstdlib>
#include <set>

#include "main/app.hpp"
#include "main/screen.hpp"
#include "main/unicode.hpp"

namespace {

// Each term as its characters' case forms: every form folds as the character does.
using Forms = std::vector<std::vector<std::string>>;

Forms ascii_forms(std::string_view word) {
    Forms forms;
    for (char c : word) forms.push_back({std::string(1, c), std::string(1, static_cast<char>(c ^ 0x20))});
    return forms;
}

const std::vector<Forms>& cased_terms() {
    static const std::vector<Forms> terms = [] {
        Forms istanbul = ascii_forms("stanbul"), strasse = ascii_forms("Stra"), odos;
        istanbul.insert(istanbul.begin(), {"\xC4\xB0", "i\xCC\x87"});  // İ and i + U+0307
        strasse.push_back({"\xC3\x9F", "\xE1\xBA\x9E"});                // ß and ẞ
        strasse.push_back({"e", "E"});
        odos = {{"\xCE\x9F", "\xCE\xBF"}, {"\xCE\x94", "\xCE\xB4"}, {"\xCE\x9F", "\xCE\xBF"},
                {"\xCE\xA3", "\xCF\x83", "\xCF\x82"}};  // ΟΔΟΣ, Σ as σ or ς
        return std::vector<Forms>{ascii_forms("orchid"), istanbul, strasse, odos};
    }();
    return terms;
}

const std::vector<std::string> terms = {"orchid", "\xC4\xB0stanbul", "Stra\xC3\x9F" "e", "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3"};

// Byte 0 picks the term, bytes 1-4 its letter case, byte 5 where it stands in the rest.
void term_in_any_case_is_refused(std::string_view input) {
    if (input.size() < 6) return;
    const Forms& forms = cased_terms()[static_cast<unsigned char>(input[0]) % terms.size()];
    std::uint32_t bits = 0;
    for (int i = 1; i <= 4; ++i) bits = bits << 8 | static_cast<unsigned char>(input[i]);
    std::string_view rest = input.substr(6);
    std::size_t split = rest.size() * static_cast<unsigned char>(input[5]) / 256;
    std::string text(rest.substr(0, split));
    for (const auto& options : forms) {
        text += options[bits % options.size()];
        bits /= static_cast<std::uint32_t>(options.size());
    }
    text += rest.substr(split);
    auto screened = App::text(terms, text);
    if (screened || screened.error() != "private identifier or invalid text; generalize locally before sharing")
        std::abort();
    if (!has_private_term(terms, text)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    auto screened = App::text(terms, text);
    if (screened) {
        auto folded = fold_case(text);
        if (!folded || !valid_utf8(text) || has_private_term(terms, text) || text.find("://") != std::string::npos ||
            folded->find('@') != std::string::npos || folded->find("localhost") != std::string::npos ||
            text.size() > text_limit)
            std::abort();
    } else {
        static const std::set<std::string> messages = {
            "private identifier or invalid text; generalize locally before sharing",
            "possible private path, identity or credential; revise locally",
            "URLs are permitted only in documentation records"};
        if (!messages.count(screened.error())) std::abort();
    }
    term_in_any_case_is_refused(text);

    auto decoded = percent_decode(text);
    if (decoded) {
        if (!valid_utf8(*decoded) || decoded->size() > text.size()) std::abort();
    } else if (decoded.error() != "invalid URL encoding" && decoded.error() != "invalid URL text") {
        std::abort();
    }
    return 0;
}
