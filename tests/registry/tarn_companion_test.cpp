// The companion and the real registry tool together, as a user runs them.
#include <gtest/gtest.h>

#include "main/json.hpp"
#include "support/process.hpp"

namespace {

struct Companion : ::testing::Test {
    AgentHome agent;

    void SetUp() override {
        agent.configure(compact(Json{{"tarn_bin", TARN_REGISTRY_BIN}}));
        agent.env["TARN_REGISTRY_DB"] = (agent.home / "registry.sqlite3").string();
        agent.env["TARN_TOKEN"] = "tl_companion_test";
    }

    // The command's standard output.
    std::string step(const std::vector<std::string>& args, const std::optional<std::string>& input = {}) {
        auto out = agent.run(args, input);
        EXPECT_EQ(out.status, 0) << args[0] << ": " << out.err;
        return out.out;
    }
};

TEST_F(Companion, SharedRecipeIsFoundAndInspectedThroughTheRegistryTool) {
    auto prepared = parse(step({"prepare"}, read_file(fs::path(TARN_SOURCE_DIR) / "examples/candidate.json")));
    ASSERT_TRUE(prepared);
    std::string digest = (*prepared)["digest"];

    auto shared = parse(step({"share", digest}));
    ASSERT_TRUE(shared);
    EXPECT_EQ((*shared)["result"], (Json{{"ref", "retry/jittered-exponential-backoff@1"}, {"status", "published"}}));
    EXPECT_EQ((*shared)["status"], "shared");

    // The registry tool kept it under the configured origin, as published by the companion.
    auto direct = run_program(TARN_REGISTRY_BIN, {"inspect", "retry/jittered-exponential-backoff"},
                              {{"TARN_REGISTRY_DB", agent.env["TARN_REGISTRY_DB"]},
                               {"TARN_URL", "https://registry.example/"}});
    ASSERT_EQ(direct.status, 0) << direct.err;
    auto stored = parse(direct.out);
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)["status"], "generated");

    auto found = step({"search", "jittered backoff"});
    EXPECT_NE(found.find("retry/jittered-exponential-backoff@1"), std::string::npos) << found;
    auto inspected = step({"inspect", "retry/jittered-exponential-backoff@1"});
    EXPECT_NE(inspected.find("https://registry.example"), std::string::npos) << inspected;
}

}  // namespace
