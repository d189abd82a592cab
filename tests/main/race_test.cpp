// Many companion processes started at the same moment on one queue and one configuration.
#include <gtest/gtest.h>
#include <iostream>
#include <regex>

#include "support/candidates.hpp"
#include "support/launch.hpp"

namespace {

constexpr const char* exists_already = "tarn-agent: cannot exclusively create private artifact\n";

Launch agent(const AgentHome& h, std::vector<std::string> args, std::optional<std::string> input = {}) {
    args.insert(args.begin(), TARN_AGENT_BIN);
    Launch l;
    l.args = std::move(args);
    l.env = h.env;
    l.input = std::move(input);
    return l;
}

bool refused(const Outcome& o, const char* err) { return o.status == 1 && o.out.empty() && o.err == err; }

TEST(Race, SixteenPreparesOfOneCandidateWriteOneFile) {
    AgentHome reference;
    int attempts = 0, written = 0, lost = 0;
    for (int round = 0; round < 12; ++round) {
        Outcome expected = reference.run({"prepare"}, candidate_text(round));
        ASSERT_EQ(expected.status, 0) << expected.err;
        std::string digest = parse(expected.out).value()["digest"].get<std::string>();
        AgentHome h;
        ASSERT_EQ(h.run({"hook"}).status, 0);  // the queue exists before the race
        Starter starter;
        for (int i = 0; i < 16; ++i) starter.add(agent(h, {"prepare"}, candidate_text(round)));
        for (const Outcome& o : starter.wait_all()) {
            ++attempts;
            if (o.status == 0 && o.out == expected.out && o.err.empty()) ++written;
            else if (refused(o, exists_already)) ++lost;
            else ADD_FAILURE() << o.status << " " << o.out << o.err;
        }
        EXPECT_EQ(list_dir(h.queue), std::vector<std::string>{digest + ".json"});
        EXPECT_EQ(read_file(h.queue / (digest + ".json")), read_file(reference.queue / (digest + ".json")));
        EXPECT_EQ(file_mode(h.queue / (digest + ".json")), 0600u);
    }
    std::cout << "[figures] prepare race: " << attempts << " attempts, " << written << " reports, " << lost
              << " lost the exclusive creation, one file per round\n";
}

TEST(Race, FirstUseCreatesTheQueueOnce) {
    // Processes that find the queue missing at the same moment: the creator and
    // those that came after it proceed, a loser of the creation says so, and the
    // queue is whole for the next run.
    int attempts = 0, lost = 0;
    for (int round = 0; round < 3; ++round) {
        AgentHome h;
        Starter starter;
        for (int i = 0; i < 16; ++i) starter.add(agent(h, {"hook"}));
        for (const Outcome& o : starter.wait_all()) {
            ++attempts;
            lost += o.status != 0;
            if (o.status == 0)
                EXPECT_EQ(o.out, "{\"shared\":0,\"status\":\"disabled\"}\n") << o.err;
            else
                EXPECT_EQ(o.err, "tarn-agent: cannot create private queue\n");
        }
        EXPECT_EQ(file_mode(h.queue), 0700u);
        EXPECT_EQ(h.run({"hook"}).status, 0) << "a later run finds the queue";
    }
    std::cout << "[figures] first use: " << attempts << " runs on fresh homes, " << lost << " lost the creation race\n";
}

TEST(Race, HookRunsAndSharesPublishEachDigestOnce) {
    PublishHome h(R"({"mode":"hook"})");
    std::vector<std::string> digests;
    for (int n = 0; n < 6; ++n) digests.push_back(h.prepare(n));
    Starter starter;
    for (int i = 0; i < 4; ++i) starter.add(agent(h, {"hook"}));
    for (int i = 0; i < 12; ++i) starter.add(agent(h, {"share", digests[i % 6]}));
    const std::string one = R"(\{"digest":"[0-9a-f]{64}",("result":\{"ok":true\},"status":"shared"|"status":"already_shared")\})";
    const std::regex hook_line("\\{\"outcomes\":\\[(" + one + "(," + one + ")*)?\\],\"status\":\"processed\"\\}\n");
    const std::regex share_line(one + "\n");
    int attempts = 0, reported = 0, lost = 0;
    for (const Outcome& o : starter.wait_all()) {
        ++attempts;
        lost += o.status != 0;
        bool fine = refused(o, exists_already) ||
                    (o.status == 0 && o.err.empty() && (std::regex_match(o.out, hook_line) || std::regex_match(o.out, share_line)));
        EXPECT_TRUE(fine) << o.status << " " << o.out << o.err;
        for (auto at = o.out.find("\"shared\""); at != std::string::npos; at = o.out.find("\"shared\"", at + 1))
            ++reported;
    }
    // The tool logs one line per publication: the queued file's path.
    std::string calls = h.log.record("calls");
    for (const std::string& d : digests) {
        std::string line = h.file(d, ".json").string() + "\n";
        std::size_t published = 0;
        for (auto at = calls.find(line); at != std::string::npos; at = calls.find(line, at + 1)) ++published;
        EXPECT_EQ(published, 1u) << d;
        // Every digest went all the way: marker, publication, receipt.
        EXPECT_EQ(read_file(h.file(d, ".attempt")), "inspect registry before any manual recovery\n");
        EXPECT_EQ(read_file(h.file(d, ".receipt")), "published\n");
    }
    EXPECT_EQ(h.log.calls(), digests.size());
    EXPECT_EQ(list_dir(h.queue).size(), 3 * digests.size());  // no response file left either
    EXPECT_LE(reported, 6);  // a failing hook run drops what it had shared
    std::cout << "[figures] hook/share race: " << attempts << " processes, " << h.log.calls() << " publications of "
              << digests.size() << " digests, " << reported << " reported as shared, " << lost
              << " refused by the marker\n";
}

TEST(Race, ConcurrentModeSwitchesAlwaysLeaveACompleteConfiguration) {
    AgentHome h;
    Json original = parse(read_file(h.config)).value();
    Starter starter;
    for (int i = 0; i < 16; ++i) starter.add(agent(h, {"mode", i % 2 ? "hook" : "manual"}));
    int reads = 0;
    auto check = [&] {
        auto doc = parse(read_file(h.config));
        ASSERT_TRUE(doc) << "torn configuration";
        std::string mode = (*doc)["mode"].get<std::string>();
        EXPECT_TRUE(mode == "hook" || mode == "manual");
        (*doc)["mode"] = original["mode"];
        EXPECT_EQ(*doc, original);
        ++reads;
    };
    auto outcomes = starter.wait_all(check);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].status, 0) << outcomes[i].err;
        EXPECT_EQ(outcomes[i].out, i % 2 ? "{\"automatic_publication\":true,\"mode\":\"hook\"}\n"
                                         : "{\"automatic_publication\":false,\"mode\":\"manual\"}\n");
    }
    check();
    EXPECT_EQ(file_mode(h.config), 0600u);
    EXPECT_EQ(list_dir(h.config_dir), (std::vector<std::string>{"config.json", "tarn-agent-queue"}));
    std::cout << "[figures] mode race: 16 switches, " << reads << " reads, all complete\n";
}

}  // namespace
