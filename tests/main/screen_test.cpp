#include <gtest/gtest.h>

#include "main/app.hpp"
#include "main/screen.hpp"

namespace {

const std::string refused = "private identifier or invalid text; generalize locally before sharing";
const std::string pattern = "possible private path, identity or credential; revise locally";
const std::string url = "URLs are permitted only in documentation records";

// The message of the screen, or "" when the text passes.
std::string screen(std::string_view text, const std::vector<std::string>& terms = {"orchid"}) {
    Status s = App::text(terms, text);
    return s ? "" : s.error();
}

TEST(Screen, LengthBoundIsInBytes) {
    EXPECT_EQ(screen(""), "");
    EXPECT_EQ(screen(std::string(16384, 'a')), "");
    EXPECT_EQ(screen(std::string(16385, 'a')), refused);
    // 8,193 two-byte characters: fewer characters than the bound, more bytes.
    std::string e_acute;
    for (int i = 0; i < 8193; ++i) e_acute += "\xC3\xA9";
    EXPECT_EQ(screen(e_acute), refused);
}

TEST(Screen, ControlCharactersExceptTabAndLineFeed) {
    EXPECT_EQ(screen("a\tb\nc"), "");
    EXPECT_EQ(screen("line\r\nnext"), refused);
    EXPECT_EQ(screen(std::string("a\0b", 3)), refused);
    EXPECT_EQ(screen("a\x7f"), refused);
    EXPECT_EQ(screen("a\xC2\x85"), refused);        // U+0085 NEXT LINE
    EXPECT_EQ(screen("a\xC2\x9F"), refused);        // U+009F
    EXPECT_EQ(screen("zero\xE2\x80\x8Bwidth"), "");  // U+200B is a format character
    EXPECT_EQ(screen("no\xC2\xA0" "break"), "");     // U+00A0
    // A control character wins over a later private term, as the steps run in order.
    EXPECT_EQ(screen("\r orchid @"), refused);
}

TEST(Screen, InvalidUtf8IsRefusedAsInvalidText) {
    for (std::string bad : {"\xFF", "a\xC3", "\xC3\x28", "\xED\xA0\x80", "\xC0\xAF", "@\xFE"})
        EXPECT_EQ(screen(bad), refused) << bad;
}

TEST(Screen, PrivateTermsMatchInAnyLetterCase) {
    for (auto text : {"ORCHID", "orchid-sync", "Orchidaceae", "the OrChId team"}) EXPECT_EQ(screen(text), refused);
    EXPECT_EQ(screen("orc hid"), "");
    EXPECT_EQ(screen("an ORCHID", {"Orchid"}), refused);
    EXPECT_EQ(screen("x", {"elm", "x"}), refused);
    // Beyond ASCII: U+0130 lowercases to two characters (i + U+0307).
    EXPECT_EQ(screen("\xC4\xB0ZMIR port", {"\xC4\xB0zmir"}), refused);
    EXPECT_EQ(screen("i\xCC\x87zmi\xCC\x87r", {"\xC4\xB0ZM\xC4\xB0R"}), refused);
    EXPECT_EQ(screen("\xD0\x9E\xD0\xA0\xD0\xA5", {"\xD0\xBE\xD1\x80\xD1\x85"}), refused);  // ОРХ / орх
    EXPECT_EQ(screen("\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x86", {"\xCF\x83\xCE\xBF\xCF\x86\xCE\xAC"}), refused);  // ΣΟΦΆ
    EXPECT_EQ(screen("izmir", {"\xC4\xB0zmir"}), "");
    // Final sigma: the term's last Σ and the same Σ inside a longer word fold alike, as do σ and ς.
    const std::string odos = "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", odos_lower = "\xCE\xBF\xCE\xB4\xCE\xBF";
    for (std::string text : {odos, odos + "sync", odos + ".io", odos + "'s cache", odos + "\xCE\x91", odos + "-sync",
                             odos_lower + "\xCF\x83", odos_lower + "\xCF\x82", "Retry for the " + odos + "sync client"})
        for (std::string term : {odos, odos_lower + "\xCF\x82", odos_lower + "\xCF\x83"})
            EXPECT_EQ(screen(text, {term}), refused) << text << " / " << term;
    // The source URL match folds the same way.
    EXPECT_TRUE(has_private_term({odos}, percent_decode("/%CE%9F%CE%94%CE%9F%CE%A3sync/").value()));
    // U+212A KELVIN SIGN lowercases to ASCII k: ASCII text and non-ASCII term fold alike.
    EXPECT_EQ(screen("bulk", {"\xE2\x84\xAA"}), refused);
    EXPECT_EQ(screen("bul\xE2\x84\xAA", {"K"}), refused);
}

TEST(Screen, TermsAreNotTrimmed) {
    EXPECT_EQ(screen("x orchid", {" orchid"}), refused);
    EXPECT_EQ(screen("orchid", {" orchid"}), "");
}

TEST(Screen, BuiltInPatternsAfterTermsBeforeUrls) {
    for (auto text : {"/Users/x", "/home/x", "C:\\temp", "FILE://x", "on localhost", "127.0.0.1:8080", "-----BEGIN KEY",
                      "disk-backed cache", "ghp_abc", "see the BEARER token", "password=x", "API_KEY=x", "token=x",
                      "@scope/package"})
        EXPECT_EQ(screen(text), pattern) << text;
    EXPECT_EQ(screen("bearer"), "");
    EXPECT_EQ(screen("ftp://mirror"), url);
    EXPECT_EQ(screen("a://b"), url);
    EXPECT_EQ(screen("orchid@localhost"), refused);
    EXPECT_EQ(screen("https://x @"), pattern);
    EXPECT_EQ(screen("https://x/orchid"), refused);
}

std::string decode_error(std::string_view text) {
    auto decoded = percent_decode(text);
    return decoded ? "" : decoded.error();
}

TEST(PercentDecode, DecodesOnceAndRequiresUtf8) {
    EXPECT_EQ(percent_decode("%41%42"), "AB");
    EXPECT_EQ(percent_decode("%c3%a9"), "\xC3\xA9");
    EXPECT_EQ(percent_decode("%C3%A9"), "\xC3\xA9");
    EXPECT_EQ(percent_decode("a+b%20c"), "a+b c");
    EXPECT_EQ(percent_decode("%2541"), "%41");
    EXPECT_EQ(percent_decode(""), "");
    EXPECT_EQ(percent_decode("\xC3\xA9"), "\xC3\xA9");
    for (auto bad : {"%", "a%", "%4", "a%4", "%zz", "%4g", "%g4", "%%41"})
        EXPECT_EQ(decode_error(bad), "invalid URL encoding") << bad;
    EXPECT_EQ(decode_error("%ff"), "invalid URL text");
    EXPECT_EQ(decode_error("%c3"), "invalid URL text");
    EXPECT_EQ(decode_error("\xFF"), "invalid URL text");
    // A malformed escape is reported even after an undecodable byte.
    EXPECT_EQ(decode_error("%ff%"), "invalid URL encoding");
}

TEST(PrivateTermMatch, FoldsBothSidesAndFailsClosed) {
    EXPECT_TRUE(has_private_term({"orchid"}, "/docs/ORCHID"));
    EXPECT_FALSE(has_private_term({"orchid"}, "/docs/orc%68id"));
    EXPECT_TRUE(has_private_term({"orchid"}, "\xFF"));
}

}  // namespace
