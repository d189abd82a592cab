#include <regex>

#include "main/unicode.hpp"
#include "registry/registry_fixture.hpp"

namespace {

using Search = RegistryFixture;
using Lookup = RegistryFixture;

TEST_F(Search, TitleOutranksGuidanceAndHitsCarryTheirFields) {
    ASSERT_EQ(publish(recipe("in-guidance", 1, "Queue workers", {{"gotchas", {"retry with backoff"}}})).status, 0);
    ASSERT_EQ(publish(recipe("in-title", 1, "Retry with backoff", {{"kind", "idiom"}})).status, 0);
    ASSERT_EQ(publish(recipe("unrelated", 1, "Parse dates")).status, 0);
    auto result = ok({"search", "backoff retry", "--json", "--timeout", "10s"});
    EXPECT_EQ(result["mode"], "lexical");
    EXPECT_EQ(result["warnings"], Json::array({"lexical_degraded"}));
    ASSERT_EQ(result["hits"].size(), 2u);
    const auto& best = result["hits"][0];
    EXPECT_EQ(best["ref"], "in-title@1");
    EXPECT_EQ(best["title"], "Retry with backoff");
    EXPECT_EQ(best["kind"], "idiom");
    EXPECT_EQ(best["intent"], "Guidance about Retry with backoff");
    EXPECT_GT(best["score"].get<double>(), result["hits"][1]["score"].get<double>());
    EXPECT_EQ(refs("Café"), std::vector<std::string>{});
    ASSERT_EQ(publish(recipe("cafe", 1, "Café menus")).status, 0);
    EXPECT_EQ(refs("CAFE"), std::vector<std::string>{"cafe@1"});
    EXPECT_EQ(refs("go"), std::vector<std::string>{});
}

TEST_F(Search, AtMostTenHitsWithIntentsCutAtCharacterBoundaries) {
    std::string long_intent;
    for (int i = 0; i < 150; ++i) long_intent += "é";
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(publish(recipe("many/" + std::to_string(i), 1, "Many", {{"intent", long_intent}})).status, 0);
    auto hits = ok({"search", "many"})["hits"];
    ASSERT_EQ(hits.size(), 10u);
    std::string intent = hits[0]["intent"];
    EXPECT_LE(intent.size(), 200u);
    EXPECT_TRUE(valid_utf8(intent));
    EXPECT_TRUE(intent.ends_with("é\u2026"));
}

TEST_F(Search, OnlyTheNewestVersionOfARecipeIsListed) {
    ASSERT_EQ(publish(recipe("r", 2, "Rollout plan")).status, 0);
    ASSERT_EQ(publish(recipe("r", 1, "Rollout plan")).status, 0);
    EXPECT_EQ(refs("rollout"), std::vector<std::string>{"r@2"});
    ASSERT_EQ(publish(recipe("r", 3, "Rollout plan")).status, 0);
    EXPECT_EQ(refs("rollout"), std::vector<std::string>{"r@3"});
}

TEST_F(Search, QuerySyntaxIsAlwaysPlainWords) {
    ASSERT_EQ(publish(recipe("syntax", 1, "Retry NOT AND OR near title")).status, 0);
    std::vector<std::string> queries = {
        "\"", "\"\"", "\"retry", "retry\" OR \"x", "AND", "OR OR", "NOT", "NEAR(", "NEAR(retry title, 2)", "*",
        "retry*", "^retry", "-", "- retry", "(", ")", "()", "{title}: x", "title:retry", "'", "\\", "é", "日本語",
        "\xff\xfe", "retry AND", "+", "%", "\t\n", "NEAR/3", "\xe2\x80\x94", "a\"b\"c",
    };
    for (const auto& q : queries) {
        auto out = tarn({"search", q});
        EXPECT_EQ(out.status, 0) << q << ": " << out.err;
        auto value = parse(out.out);
        ASSERT_TRUE(value) << q;
        EXPECT_EQ((*value)["mode"], "lexical") << q;
    }
    // Operators are ordinary words, so each of these still finds the recipe.
    for (std::string q : {"NOT retry", "title:retry", "NEAR(retry", "retry*", "^retry", "\"retry"})
        EXPECT_EQ(refs(q), std::vector<std::string>{"syntax@1"}) << q;
    EXPECT_EQ(ok({"search", "  \"*()^- "})["hits"], Json::array());
}

TEST_F(Lookup, OriginsAreSeparate) {
    ASSERT_EQ(publish(recipe("shared/id", 1, "Origin A lesson")).status, 0);
    env["TARN_URL"] = "https://registry.example";
    EXPECT_EQ(refs("lesson"), std::vector<std::string>{"shared/id@1"});
    env["TARN_URL"] = "https://other.example/";
    EXPECT_EQ(refs("lesson"), std::vector<std::string>{});
    EXPECT_EQ(tarn({"inspect", "shared/id"}).err, "tarn: recipe not found\n");
    EXPECT_EQ(publish(recipe("shared/id", 1, "Origin B lesson")).out,
              "{\"ref\":\"shared/id@1\",\"status\":\"published\"}\n");
    EXPECT_EQ(ok({"inspect", "shared/id@1"})["title"], "Origin B lesson");
    EXPECT_EQ(ok({"inspect", "shared/id@1"})["origin"], "https://other.example");
    env["TARN_URL"] = "https://registry.example/";
    EXPECT_EQ(ok({"inspect", "shared/id@1"})["title"], "Origin A lesson");
}

TEST_F(Lookup, InspectFindsNewestOrExactVersion) {
    Json first = recipe("go/x", 1, "First");
    ASSERT_EQ(publish(first).status, 0);
    ASSERT_EQ(publish(recipe("go/x", 2, "Second")).status, 0);
    auto latest = ok({"inspect", "go/x", "--json", "--timeout", "10s"});
    EXPECT_EQ(latest["ref"], "go/x@2");
    EXPECT_EQ(latest["title"], "Second");
    auto exact = ok({"inspect", "go/x@1"});
    EXPECT_TRUE(std::regex_match(exact["published_at"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(exact["origin"], "https://registry.example");
    EXPECT_EQ(exact["ref"], "go/x@1");
    for (auto name : {"ref", "published_at", "origin"}) exact.erase(name);
    EXPECT_EQ(exact, first);
    for (std::string ref : {"go/x@3", "go/y", "go"}) EXPECT_EQ(tarn({"inspect", ref}).err, "tarn: recipe not found\n");
    for (std::string ref : {"@1", "go/x@", "go/x@0", "go/x@v1", "go/x@1.0", "go/x@-1"}) {
        auto out = tarn({"inspect", ref});
        EXPECT_EQ(out.status, 1) << ref;
        EXPECT_EQ(out.err, "tarn: invalid recipe reference\n") << ref;
    }
}

TEST_F(Lookup, ContextComposesGuidanceAndRelatedRecipes) {
    Json languages = {{"go", {{"guidance", "use context"}, {"runtime_version", "1.22"}, {"tested", true}}}};
    ASSERT_EQ(publish(recipe("http/retry", 1, "HTTP retry with backoff",
                             {{"use_when", "calls are flaky"}, {"avoid_when", {"writes"}}, {"languages", languages}}))
                  .status,
              0);
    ASSERT_EQ(publish(recipe("http/timeout", 1, "HTTP client timeouts")).status, 0);
    ASSERT_EQ(publish(recipe("grpc/retry", 1, "gRPC retry with backoff")).status, 0);
    ASSERT_EQ(publish(recipe("sql/backoff", 1, "Lock backoff")).status, 0);
    ASSERT_EQ(publish(recipe("retry/budget", 1, "Retry budgets")).status, 0);
    // Unrelated recipes give the shared words a weight, as in any real store.
    for (std::string topic : {"Grid layout", "Date parsing", "Log rotation", "Schema migration", "Cache keys"})
        ASSERT_EQ(publish(recipe("misc/" + std::to_string(topic.size()) + topic.substr(0, 2), 1, topic)).status, 0);
    auto context = ok({"context", "http/retry"});
    EXPECT_EQ(context["ref"], "http/retry@1");
    EXPECT_EQ(context["intent"], "Guidance about HTTP retry with backoff");
    EXPECT_EQ(context["use_when"], Json::array({"calls are flaky"}));
    EXPECT_EQ(context["avoid_when"], Json::array({"writes"}));
    EXPECT_EQ(context["constraints"], Json::array());
    EXPECT_EQ(context["implementation"], Json::array({"step one"}));
    EXPECT_EQ(context["gotchas"], Json::array({"a gotcha"}));
    EXPECT_EQ(context["validation"], Json::array({"a check"}));
    EXPECT_EQ(context["languages"], languages);
    EXPECT_EQ(context["docs"], Json::array());
    auto related = context["related"];
    ASSERT_EQ(related.size(), 3u);
    EXPECT_EQ(related[0], (Json{{"ref", "grpc/retry@1"}, {"title", "gRPC retry with backoff"}}));
    for (const auto& other : related) {
        EXPECT_NE(other["ref"], "http/retry@1");
        EXPECT_FALSE(other["ref"].get<std::string>().starts_with("misc/"));
    }
}

}  // namespace
