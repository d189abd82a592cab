#include <gtest/gtest.h>

#include "main/json.hpp"

namespace {

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(Parse, AcceptsOneValueWithWhitespaceAround) {
    auto v = parse(" \t\r\n{\"b\":1,\"a\":[true,null]}\n ");
    ASSERT_TRUE(v);
    EXPECT_EQ(compact(*v), R"({"a":[true,null],"b":1})");
    EXPECT_TRUE(parse("\"x\""));
    EXPECT_TRUE(parse("0"));
}

TEST(Parse, RefusesEverythingButExactlyOneValue) {
    for (std::string bad : {"", " ", "{} {}", "{}x", "[1,]", "{\"a\" 1}", "\xEF\xBB\xBF{}", "'a'", "01", "[1e400]",
                            "\"\xC3\x28\"", "\"\xED\xA0\x80\"", "{\"a\":1}/", "//c\n{}", "NaN"}) {
        auto v = parse(bad);
        ASSERT_FALSE(v) << bad;
        EXPECT_EQ(v.error(), "invalid JSON");
    }
    EXPECT_FALSE(parse(std::string("{}\0garbage", 10)));
    EXPECT_FALSE(parse(std::string("\"a\0b\"", 5)));
}

TEST(Parse, NestingStopsAt128Levels) {
    EXPECT_TRUE(parse(nested(127)));
    EXPECT_FALSE(parse(nested(128)));
    EXPECT_FALSE(parse(nested(100000)));
    EXPECT_TRUE(parse("{\"a\":" + nested(126) + "}"));
    EXPECT_FALSE(parse("{\"a\":" + nested(127) + "}"));
}

TEST(Parse, KeepsLastRepeatedNameAndNumberKinds) {
    auto v = parse(R"({"a":1,"a":2,"i":18446744073709551615,"n":-3,"f":1.0,"e":1e0})");
    ASSERT_TRUE(v);
    EXPECT_EQ((*v)["a"], 2);
    EXPECT_TRUE((*v)["i"].is_number_unsigned());
    EXPECT_TRUE((*v)["n"].is_number_integer());
    EXPECT_TRUE((*v)["f"].is_number_float());
    EXPECT_TRUE((*v)["e"].is_number_float());
    EXPECT_FALSE(parse_record(R"({"a":1,"a":2})"));
    EXPECT_FALSE(parse_record(R"({"x":{"a":1,"a":2}})"));
    EXPECT_TRUE(parse_record(R"({"a":{"a":1},"b":[{"a":1},{"a":2}]})"));
}

// A number a double cannot hold comes back as written; one it holds, as the library writes it.
TEST(Writers, NumbersSurviveWithTheirValue) {
    for (auto [in, out] : std::initializer_list<std::pair<const char*, const char*>>{
             {"12345678901234567890123", "12345678901234567890123"}, {"18446744073709551616", "18446744073709551616"},
             {"-9223372036854775809", "-9223372036854775809"}, {"18446744073709551615", "18446744073709551615"},
             {"1.00000000000000000001", "1.00000000000000000001"}, {"1E-400", "1E-400"}, {"-0.1e-330", "-0.1e-330"},
             {"0.1", "0.1"}, {"1e5", "100000.0"}, {"2.50", "2.5"}, {"-0.0", "-0.0"}, {"0e999", "0.0"},
             {"0.30000000000000004", "0.30000000000000004"}, {"100000000000000000000", "1e+20"}}) {
        auto v = parse(std::string("[") + in + "]");
        ASSERT_TRUE(v) << in;
        EXPECT_EQ(compact(*v), std::string("[") + out + "]") << in;
        EXPECT_EQ(pretty(*v), std::string("[\n  ") + out + "\n]") << in;
    }
    auto v = parse(R"({"big":12345678901234567890123,"n":[18446744073709551616,-9223372036854775809]})");
    EXPECT_EQ(pretty(*v), "{\n  \"big\": 12345678901234567890123,\n  \"n\": [\n    18446744073709551616,\n"
                          "    -9223372036854775809\n  ]\n}");
    EXPECT_FALSE((*v)["big"].is_number());  // no check can take it for a number it is not
}

TEST(Writers, CompactEscapesOnlyQuoteBackslashAndControls) {
    Json v = {{"s", "q\" b\\ /\t\n\r\b\f\x01\x1f\x7f é"}, {"A", 1}};
    EXPECT_EQ(compact(v), "{\"A\":1,\"s\":\"q\\\" b\\\\ /\\t\\n\\r\\b\\f\\u0001\\u001f\x7f é\"}");
}

TEST(Writers, PrettyUsesTwoSpacesAndNoFinalLineFeed) {
    Json v = {{"b", Json::array()}, {"a", {{"x", {1, 2}}}}, {"c", Json::object()}};
    EXPECT_EQ(pretty(v), "{\n  \"a\": {\n    \"x\": [\n      1,\n      2\n    ]\n  },\n  \"b\": [],\n  \"c\": {}\n}");
}

TEST(Writers, InvalidUtf8BecomesReplacementCharacterInsteadOfThrowing) {
    Json v = std::string("a\xFF" "b");
    EXPECT_EQ(compact(v), "\"a\xEF\xBF\xBD" "b\"");
    EXPECT_EQ(pretty(v), "\"a\xEF\xBF\xBD" "b\"");
}

}  // namespace
