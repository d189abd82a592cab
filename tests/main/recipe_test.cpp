#include <gtest/gtest.h>

#include "main/app.hpp"

namespace {

const char* const refused = "private identifier or invalid text; generalize locally before sharing";
const char* const pattern = "possible private path, identity or credential; revise locally";
const char* const m4 =
    "unsupported recipe metadata; no repository, source artifacts, paths or product metadata allowed";
const char* const m5 = "id, kind, title and intent must be nonempty strings";
const char* const m6 = "id must be a generic lowercase technical slug";
const char* const m7 = "positive integer version required";
const char* const m8 = "implementation, gotchas and validation are required";
const char* const m9 = "guidance lists must contain only strings";
const char* const m10 = "unsupported guidance structure";
const char* const m14 = "language guidance and runtime_version required";
const char* const m19 = "documentation needs type, package, version, checked_version and checked_at";
const char* const m22 =
    "source URL must use an explicitly allowed public HTTPS documentation host without credentials/query";

App app() {
    App a;
    a.config.mode = "manual";
    a.config.private_terms = {"orchid"};
    a.config.documentation_hosts = {"go.dev",  "pkg.go.dev",         "doc.rust-lang.org",
                                    "docs.rs", "www.postgresql.org", "docs.python.org"};
    return a;
}

// The smallest accepted candidate; every case below changes one or two things in it.
Json minimal() {
    return Json::parse(R"({"client_reviewed":true,"recipe":{"id":"a","version":1,"kind":"k","title":"t",
        "intent":"i","implementation":["x"],"gotchas":["g"],"validation":["v"],
        "docs":[{"type":"api","package":"p","version":"3","checked_version":"3","checked_at":"2025-01-01",
                 "url":"https://docs.python.org/3/"}]}})");
}

std::string check(const Json& candidate) {
    auto prepared = app().recipe(candidate);
    return prepared ? "" : prepared.error();
}

// Sets (or, with a null `json`, removes) the members at the pointers, then checks.
std::string edit(std::initializer_list<std::pair<const char*, const char*>> changes) {
    Json c = minimal();
    for (auto [pointer, json] : changes) {
        Json::json_pointer ptr(pointer);
        if (json)
            c[ptr] = Json::parse(json);
        else
            c[ptr.parent_pointer()].erase(ptr.back());
    }
    return check(c);
}

std::string edit(const char* pointer, const char* json) { return edit({{pointer, json}}); }

TEST(Recipe, MinimalCandidateGainsOnlyStatus) {
    Json c = minimal();
    auto prepared = app().recipe(c);
    ASSERT_TRUE(prepared) << prepared.error();
    Json expected = c["recipe"];
    expected["status"] = "generated";
    EXPECT_EQ(*prepared, expected);
    EXPECT_EQ(*app().recipe(c), *prepared);
}

TEST(Recipe, Envelope) {
    const char* m2 = "candidate requires only recipe and client_reviewed=true after local semantic review";
    for (auto v : {"[]", "null", "\"x\"", "1"}) EXPECT_EQ(check(Json::parse(v)), "candidate must be an object");
    EXPECT_EQ(edit("/note", "\"reviewed\""), m2);
    EXPECT_EQ(edit("/client_reviewed", "false"), m2);
    EXPECT_EQ(edit("/client_reviewed", "\"true\""), m2);
    EXPECT_EQ(edit("/client_reviewed", "1"), m2);
    EXPECT_EQ(edit("/client_reviewed", nullptr), m2);
    EXPECT_EQ(check(Json::parse(R"({"client_reviewed":true,"other":{}})")), "recipe object required");
    EXPECT_EQ(edit("/recipe", "[]"), "recipe object required");
    EXPECT_EQ(edit("/recipe", "\"{}\""), "recipe object required");
    // The envelope is checked before the recipe is looked at.
    EXPECT_EQ(edit({{"/client_reviewed", "false"}, {"/recipe/status", "1"}}), m2);
}

TEST(Recipe, ClosedMemberListComesFirst) {
    for (auto name : {"/recipe/status", "/recipe/repository", "/recipe/source", "/recipe/Id"})
        EXPECT_EQ(edit({{name, "\"x\""}, {"/recipe/id", nullptr}}), m4) << name;
    Json bare = {{"client_reviewed", true}, {"recipe", Json::object()}};
    EXPECT_EQ(check(bare), m5);
}

TEST(Recipe, RequiredTextsThenSlugThenVersionThenLists) {
    EXPECT_EQ(edit("/recipe/id", "\"   \""), m5);
    EXPECT_EQ(edit("/recipe/kind", nullptr), m5);
    EXPECT_EQ(edit("/recipe/title", "1"), m5);
    EXPECT_EQ(edit("/recipe/intent", "\"\\u3000\\t\""), m5);
    EXPECT_EQ(edit("/recipe/kind", "\"ORCHID\""), refused);
    // Screened one at a time: id's screen runs before kind's emptiness.
    EXPECT_EQ(edit({{"/recipe/id", "\"orchid\""}, {"/recipe/kind", "\"\""}}), refused);
    EXPECT_EQ(edit({{"/recipe/id", "\"a\""}, {"/recipe/kind", "\"@\""}, {"/recipe/title", "\"\""}}), pattern);
    for (auto id : {"\"Retry\"", "\"a_b\"", "\"a.b\"", "\"a b\"", "\"/a\"", "\"caf\\u00e9\""})
        EXPECT_EQ(edit("/recipe/id", id), m6) << id;
    for (auto id : {"\"retry/jittered-backoff\"", "\"a/\"", "\"0\""}) EXPECT_EQ(edit("/recipe/id", id), "") << id;
    // A padded id is a string that trims to text, then fails as a slug.
    EXPECT_EQ(edit("/recipe/id", "\" a\""), m6);
    EXPECT_EQ(edit({{"/recipe/id", "\"A\""}, {"/recipe/version", "0"}}), m6);
    for (auto v : {"0", "2147483648", "-1", "1.0", "1e0", "\"1\"", "true", "null", "18446744073709551615"})
        EXPECT_EQ(edit("/recipe/version", v), m7) << v;
    EXPECT_EQ(edit("/recipe/version", nullptr), m7);
    EXPECT_EQ(edit("/recipe/version", "2147483647"), "");
    // Values built in memory are signed integers rather than parsed unsigned ones.
    Json c = minimal();
    c["recipe"]["version"] = std::int64_t{-1};
    EXPECT_EQ(check(c), m7);
    c["recipe"]["version"] = std::int64_t{INT32_MAX};
    EXPECT_EQ(check(c), "");
    EXPECT_EQ(edit({{"/recipe/version", "0"}, {"/recipe/gotchas", "[]"}}), m7);
    EXPECT_EQ(edit("/recipe/implementation", "[]"), m8);
    EXPECT_EQ(edit("/recipe/gotchas", "\"g\""), m8);
    EXPECT_EQ(edit("/recipe/validation", nullptr), m8);
    EXPECT_EQ(edit({{"/recipe/validation", "[]"}, {"/recipe/docs", "[]"}}), m8);
}

TEST(Recipe, GuidanceListsInMemberOrder) {
    EXPECT_EQ(edit("/recipe/implementation", "[1]"), m9);
    EXPECT_EQ(edit("/recipe/gotchas", "[\"g\",[\"nested\"]]"), m9);
    for (auto v : {"null", "1", "{}", "true"}) EXPECT_EQ(edit("/recipe/use_when", v), m10) << v;
    for (auto v : {"\"\"", "[]", "\"x\"", "[\"x\",\"\"]"}) EXPECT_EQ(edit("/recipe/use_when", v), "") << v;
    EXPECT_EQ(edit("/recipe/constraints", "[\"/home/x\"]"), pattern);
    // Elements are checked in order: a screened element before a non-string one.
    EXPECT_EQ(edit("/recipe/gotchas", "[\"orchid\",1]"), refused);
    EXPECT_EQ(edit("/recipe/gotchas", "[1,\"orchid\"]"), m9);
    // Ascending member names: avoid_when before constraints before use_when.
    EXPECT_EQ(edit({{"/recipe/use_when", "1"}, {"/recipe/avoid_when", "[1]"}}), m9);
    EXPECT_EQ(edit({{"/recipe/avoid_when", "1"}, {"/recipe/constraints", "\"@\""}}), m10);
    EXPECT_EQ(edit({{"/recipe/validation", "[\"x://y\"]"}, {"/recipe/use_when", "1"}}), m10);
    EXPECT_EQ(edit({{"/recipe/use_when", "1"}, {"/recipe/languages", "[]"}}), m10);
}

TEST(Recipe, Languages) {
    const char* ok = R"({"guidance":"g","runtime_version":"3.12","tested":false})";
    EXPECT_EQ(edit("/recipe/languages", "{}"), "");
    EXPECT_EQ(edit("/recipe/languages/python", ok), "");
    EXPECT_EQ(edit("/recipe/languages", R"({"":{"guidance":"g","runtime_version":"3","tested":true}})"), "");
    EXPECT_EQ(edit("/recipe/languages", "[]"), "languages must be an object");
    EXPECT_EQ(edit("/recipe/languages", "null"), "languages must be an object");
    EXPECT_EQ(edit("/recipe/languages/python", "[]"), "language adaptation must be an object");
    EXPECT_EQ(edit("/recipe/languages/orchid", "[]"), refused);
    EXPECT_EQ(edit({{"/recipe/languages/python", ok}, {"/recipe/languages/python/tested_on", "\"x\""}}),
              "unsupported language metadata");
    EXPECT_EQ(edit("/recipe/languages/python", R"({"runtime_version":"3","tested":true})"), m14);
    EXPECT_EQ(edit("/recipe/languages/python", R"({"guidance":"","runtime_version":"3","tested":true})"), m14);
    EXPECT_EQ(edit("/recipe/languages/python", R"({"guidance":" ","runtime_version":"3","tested":true})"), "");
    EXPECT_EQ(edit("/recipe/languages/python", R"({"guidance":"g","runtime_version":3,"tested":true})"), m14);
    EXPECT_EQ(edit("/recipe/languages/python", R"({"guidance":"sk-1","runtime_version":3})"), pattern);
    EXPECT_EQ(edit("/recipe/languages/python", R"({"guidance":"g","runtime_version":"3","tested":"no"})"),
              "language tested must be an honest boolean");
    EXPECT_EQ(edit("/recipe/languages/python", R"({"guidance":"g","runtime_version":"3"})"),
              "language tested must be an honest boolean");
    // Languages in ascending name order; languages before docs.
    EXPECT_EQ(edit({{"/recipe/languages/b", "1"}, {"/recipe/languages/a", "{\"x\":1}"}}),
              "unsupported language metadata");
    EXPECT_EQ(edit({{"/recipe/languages/a", "1"}, {"/recipe/docs", "[]"}}), "language adaptation must be an object");
}

TEST(Recipe, DocumentationRecords) {
    EXPECT_EQ(edit("/recipe/docs", "[]"), "public versioned documentation required");
    EXPECT_EQ(edit("/recipe/docs", "{}"), "public versioned documentation required");
    EXPECT_EQ(edit("/recipe/docs", nullptr), "public versioned documentation required");
    EXPECT_EQ(edit("/recipe/docs/-", "\"https://go.dev/\""), "documentation record required");
    EXPECT_EQ(edit("/recipe/docs/0/retrieved_via", "\"search\""), "unsupported documentation metadata");
    EXPECT_EQ(edit("/recipe/docs/0/checked_at", nullptr), m19);
    EXPECT_EQ(edit("/recipe/docs/0/type", "\"\""), m19);
    EXPECT_EQ(edit("/recipe/docs/0/version", "3"), m19);
    EXPECT_EQ(edit("/recipe/docs/0/package", "\"orchid-client\""), refused);
    EXPECT_EQ(edit({{"/recipe/docs/0/type", "\"@\""}, {"/recipe/docs/0/package", "\"\""}}), pattern);
    EXPECT_EQ(edit({{"/recipe/docs/0/checked_at", "\"\""}, {"/recipe/docs/0/url", "1"}}), m19);
    EXPECT_EQ(edit("/recipe/docs/0/url", nullptr), "public URL required");
    EXPECT_EQ(edit("/recipe/docs/0/url", "1"), "public URL required");
    for (auto u : {"\"\"", "\"docs.python.org/3/\"", "\"https://\"", "\"https://[::1\""})
        EXPECT_EQ(edit("/recipe/docs/0/url", u), "invalid public source URL") << u;
    EXPECT_EQ(edit("/recipe/docs/0/section", "1"), "section must be text");
    EXPECT_EQ(edit("/recipe/docs/0/section", "\"Retry and ORCHID\""), refused);
    EXPECT_EQ(edit("/recipe/docs/0/section", "\"\""), "");
    // Records in array order; the section comes after the URL.
    EXPECT_EQ(edit({{"/recipe/docs/0/section", "1"}, {"/recipe/docs/0/url", "\"http://go.dev/\""}}), m22);
    EXPECT_EQ(edit({{"/recipe/docs/0/type", "\"\""}, {"/recipe/docs/-", "1"}}), m19);
}

TEST(Recipe, SourceUrlRule) {
    for (auto u : {"http://docs.python.org/3/", "https://user@docs.python.org/", "https://:pw@docs.python.org/",
                   "https://docs.python.org/3/?", "https://docs.python.org/3/?q=1", "https://docs.python.org:8443/",
                   "https://python.org/", "https://sub.docs.python.org/", "https://docs.python.org.evil/",
                   "ftp://docs.python.org/", "file:///home/x", "https://127.0.0.1/"}) {
        std::string json = Json(u).dump();
        EXPECT_EQ(edit("/recipe/docs/0/url", json.c_str()), m22) << u;
    }
    for (auto u : {"https://docs.python.org:443/3/", "https://DOCS.Python.ORG/3/", "https://docs.python.org/3/#x",
                   "https://docs.python.org/home/users/", "https://docs.python.org/a@b", "https://docs.python.org"}) {
        std::string json = Json(u).dump();
        EXPECT_EQ(edit("/recipe/docs/0/url", json.c_str()), "") << u;
    }
    EXPECT_EQ(edit("/recipe/docs/0/url", "\"https://docs.python.org/%6Frchid\""), "private identifier in source URL");
    EXPECT_EQ(edit("/recipe/docs/0/url", "\"https://docs.python.org/ORCHID\""), "private identifier in source URL");
    // The parser drops tab and line breaks, so they cannot hide a term.
    EXPECT_EQ(edit("/recipe/docs/0/url", "\"https://docs.python.org/or\\nc\\thi\\rd\""),
              "private identifier in source URL");
    EXPECT_EQ(edit("/recipe/docs/0/url", "\"https://docs.python.org/or%0Achid\""), "");
    EXPECT_EQ(edit("/recipe/docs/0/url", "\"https://docs.python.org/%zz\""), "invalid URL encoding");
    EXPECT_EQ(edit("/recipe/docs/0/url", "\"https://docs.python.org/%ff\""), "invalid URL text");
    EXPECT_EQ(edit("/recipe/docs/0/url", "\"https://docs.python.org/%6F%zz\""), "invalid URL encoding");
}

}  // namespace
