#pragma once
#include <gtest/gtest.h>

#include "main/json.hpp"
#include "support/process.hpp"

// A private store in a temporary directory and the environment that points `tarn` at it.
struct RegistryFixture : ::testing::Test {
    TempDir dir;
    fs::path db = dir / "store/registry.sqlite3";
    std::map<std::string, std::string> env{{"TARN_REGISTRY_DB", db.string()},
                                           {"TARN_URL", "https://registry.example/"},
                                           {"TARN_TOKEN", "tl_test"},
                                           {"HOME", dir.path().string()}};

    Outcome tarn(const std::vector<std::string>& args) const { return run_program(TARN_REGISTRY_BIN, args, env); }

    // A recipe with the members the companion always sends; `extra` replaces or adds members.
    static Json recipe(const std::string& id, int version, const std::string& title, Json extra = Json::object()) {
        Json r = {{"id", id},
                  {"version", version},
                  {"kind", "pattern"},
                  {"title", title},
                  {"intent", "Guidance about " + title},
                  {"implementation", {"step one"}},
                  {"gotchas", {"a gotcha"}},
                  {"validation", {"a check"}},
                  {"docs", Json::array()},
                  {"status", "generated"}};
        r.update(extra);
        return r;
    }

    Outcome publish_text(const std::string& bytes, const std::string& name = "recipe.json") const {
        write_file(dir / name, bytes);
        return tarn({"publish", (dir / name).string(), "--json", "--timeout", "10s"});
    }
    Outcome publish(const Json& r) const { return publish_text(compact(r)); }

    // The parsed standard output of a run that must succeed.
    Json ok(const std::vector<std::string>& args) const {
        auto out = tarn(args);
        EXPECT_EQ(out.status, 0) << out.err;
        EXPECT_EQ(out.err, "");
        EXPECT_TRUE(out.out.ends_with("\n"));
        auto value = parse(out.out);
        EXPECT_TRUE(value) << out.out;
        return value ? *value : Json();
    }

    std::vector<std::string> refs(const std::string& query) const {
        std::vector<std::string> found;
        Json result = ok({"search", query, "--json", "--timeout", "10s"});
        for (const auto& hit : result["hits"]) found.push_back(hit["ref"]);
        return found;
    }
};
