// The screen and percent-decoding: one of their messages, and what passes the
// screen holds no private term, no built-in sign and no URL marker.
#include <cstdlib>
#include <set>

#include "main/app.hpp"
#include "main/screen.hpp"
#include "main/unicode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> terms = {"orchid", "\xC4\xB0stanbul", "Stra\xC3\x9F" "e"};
    std::string_view text(reinterpret_cast<const char*>(data), size);

    auto screened = App::text(terms, text);
    if (screened) {
        auto folded = lowercase(text);
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

    auto decoded = percent_decode(text);
    if (decoded) {
        if (!valid_utf8(*decoded) || decoded->size() > text.size()) std::abort();
    } else if (decoded.error() != "invalid URL encoding" && decoded.error() != "invalid URL text") {
        std::abort();
    }
    return 0;
}
