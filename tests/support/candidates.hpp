#pragma once
// Prepared candidates in an AgentHome whose registry tool is the stand-in.
#include <gtest/gtest.h>
#include <string>

#include "main/json.hpp"
#include "support/fake_tarn.hpp"
#include "support/process.hpp"

// A valid candidate envelope; `n` makes its id, and so its digest, unique.
inline std::string candidate_text(int n) {
    return R"({"client_reviewed":true,"recipe":{"id":"retry-backoff-)" + std::to_string(n) +
           R"(","version":1,"kind":"pattern","title":"Retry with backoff","intent":"Retry transient failures",
        "implementation":["Double the delay after each failure"],"gotchas":["Cap the delay"],
        "validation":["Test the schedule"],"docs":[{"type":"api","package":"asyncio","version":"3",
        "checked_version":"3.12","checked_at":"2025-01-01","url":"https://docs.python.org/3/library/asyncio.html"}]}})";
}

// An AgentHome that runs the stand-in registry tool, recording into `log`.
struct PublishHome : AgentHome {
    FakeTarnLog log;
    explicit PublishHome(const std::string& overrides = "{}") {
        Json doc = Json::parse(overrides);
        doc["tarn_bin"] = fake_tarn_path();
        configure(doc.dump());
        env["FAKE_TARN_LOG"] = log.dir.path().string();
    }
    // Prepares candidate `n` and returns its digest.
    std::string prepare(int n) const {
        Outcome out = run({"prepare"}, candidate_text(n));
        EXPECT_EQ(out.status, 0) << out.err;
        auto report = parse(out.out);
        return report && report->contains("digest") ? (*report)["digest"].get<std::string>() : "";
    }
    fs::path file(const std::string& digest, const char* extension) const { return queue / (digest + extension); }
};
