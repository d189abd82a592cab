#include <gtest/gtest.h>

#include <openssl/sha.h>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "main/app.hpp"
#include "main/queue.hpp"
#include "support/process.hpp"

namespace {

const char* const minimal_text = R"({"client_reviewed":true,"recipe":{"id":"a","version":1,"kind":"k","title":"t",
    "intent":"i","implementation":["x"],"gotchas":["g"],"validation":["v"],
    "docs":[{"type":"api","package":"p","version":"3","checked_version":"3","checked_at":"2025-01-01",
             "url":"https://docs.python.org/3/"}]}})";

struct Queue {
    TempDir dir;
    App app;
    Queue() {
        app.config.mode = "manual";
        app.config.private_terms = {"orchid"};
        app.config.documentation_hosts = {"docs.python.org"};
        app.queue = dir.path();
    }
};

std::string sha256_of(const std::string& bytes) {
    unsigned char hash[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), hash);
    char hex[3];
    std::string out;
    for (unsigned char b : hash) {
        snprintf(hex, sizeof hex, "%02x", b);
        out += hex;
    }
    return out;
}

std::string login_name() {
    const passwd* pw = getpwuid(getuid());
    return pw ? pw->pw_name : "";
}

TEST(Prepare, StoresCanonicalBytesNamedByTheirSha256) {
    Queue q;
    Json c = Json::parse(minimal_text);
    c["recipe"]["use_when"] = "tab\there\nline caf\xC3\xA9 a/b \"q\" back\\slash";
    auto report = q.app.prepare(c);
    ASSERT_TRUE(report) << report.error();
    std::string name = (*report)["digest"];
    ASSERT_EQ(list_dir(q.dir.path()), std::vector<std::string>{name + ".json"});
    std::string stored = read_file(q.dir / (name + ".json"));
    EXPECT_EQ(stored,
              R"({"docs":[{"checked_at":"2025-01-01","checked_version":"3","package":"p","type":"api",)"
              R"("url":"https://docs.python.org/3/","version":"3"}],"gotchas":["g"],"id":"a","implementation":["x"],)"
              R"("intent":"i","kind":"k","status":"generated","title":"t",)"
              "\"use_when\":\"tab\\there\\nline caf\xC3\xA9 a/b \\\"q\\\" back\\\\slash\","
              R"("validation":["v"],"version":1})");
    EXPECT_EQ(sha256_of(stored), name);
    EXPECT_EQ(digest(Json::parse(stored)), name);
    EXPECT_EQ(file_mode(q.dir / (name + ".json")), 0600u);
    EXPECT_EQ((*report)["recipe"], Json::parse(stored));
}

TEST(Prepare, DigestIgnoresMemberOrderAndWhitespaceButNotContent) {
    Queue q;
    std::string reordered = R"(  {"recipe":{"validation":["v"],"gotchas":["g"],"implementation":["x"],"intent":"i",
        "title":"t","kind":"k","version":1,"id":"a","docs":[{"url":"https://docs.python.org/3/",
        "checked_at":"2025-01-01","checked_version":"3","version":"3","package":"p","type":"api"}]},
        "client_reviewed":true}
    )";
    auto first = q.app.prepare(*parse(minimal_text));
    auto second = q.app.prepare(*parse(reordered));
    ASSERT_TRUE(first && second);
    EXPECT_EQ((*first)["digest"], (*second)["digest"]);
    Json spaced = *parse(minimal_text);
    spaced["recipe"]["title"] = "t ";
    auto third = q.app.prepare(spaced);
    ASSERT_TRUE(third);
    EXPECT_NE((*first)["digest"], (*third)["digest"]);
    EXPECT_EQ(list_dir(q.dir.path()).size(), 2u);
}

TEST(Prepare, ExistingEntryIsNeitherReadNorRewritten) {
    Queue q;
    Json c = *parse(minimal_text);
    fs::path path = q.dir / (digest(*q.app.recipe(c)) + ".json");
    write_file(path, "someone else's bytes", fs::perms(0400));
    struct stat before {}, after {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    auto again = q.app.prepare(c);
    ASSERT_TRUE(again) << again.error();
    EXPECT_EQ((*again)["status"], "prepared");
    EXPECT_EQ(read_file(path), "someone else's bytes");
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(file_mode(path), 0400u);
}

TEST(Prepare, DanglingLinkAtTheNameIsNotFollowed) {
    Queue q;
    Json c = *parse(minimal_text);
    fs::path path = q.dir / (digest(*q.app.recipe(c)) + ".json");
    fs::create_symlink(q.dir / "elsewhere", path);
    auto report = q.app.prepare(c);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error(), "cannot exclusively create private artifact");
    EXPECT_FALSE(fs::exists(q.dir / "elsewhere"));
}

// Every node of a valid candidate replaced by every kind of value: a message or a
// report, never an exception, and a file exactly when the candidate was accepted.
TEST(Prepare, AnyValueInAnyPositionYieldsMessageOrReport) {
    Queue q;
    Json base = *parse(minimal_text);
    Json deep = *parse(std::string(126, '[') + std::string(126, ']'));
    std::vector<Json> values = {nullptr, true, false, 0, -1, 1.5, "", " ", "x", std::string(70000, 'y'),
                                Json::array(), Json::object(), Json::array({nullptr}), deep, base};
    std::set<std::string> queued;
    Json leaves = base.flatten();
    for (const auto& leaf : leaves.items()) {
        for (Json::json_pointer at(leaf.key()); !at.empty(); at = at.parent_pointer()) {
            for (const Json& value : values) {
                Json c = base;
                c[at] = value;
                Result<Json> report;
                ASSERT_NO_THROW(report = q.app.prepare(c)) << at.to_string();
                if (report) queued.insert((*report)["digest"].get<std::string>() + ".json");
                EXPECT_EQ(list_dir(q.dir.path()).size(), queued.size()) << at.to_string() << " " << value.dump();
            }
        }
    }
    EXPECT_EQ(list_dir(q.dir.path()), std::vector<std::string>(queued.begin(), queued.end()));
}

// The command reads the candidate from standard input and prints one compact line.
TEST(PrepareCommand, PrintsTheReportLine) {
    AgentHome h;
    Outcome o = h.run({"prepare"}, minimal_text);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    auto files = list_dir(h.queue);
    ASSERT_EQ(files.size(), 1u);
    std::string name = sha256_of(read_file(h.queue / files[0]));
    EXPECT_EQ(files[0], name + ".json");
    EXPECT_EQ(o.out, R"({"digest":")" + name +
                         R"(","mode":"manual","privacy":"client-reviewed; checks do not prove anonymity",)"
                         R"("recipe":{"docs":[{"checked_at":"2025-01-01","checked_version":"3","package":"p",)"
                         R"("type":"api","url":"https://docs.python.org/3/","version":"3"}],"gotchas":["g"],"id":"a",)"
                         R"("implementation":["x"],"intent":"i","kind":"k","status":"generated","title":"t",)"
                         R"("validation":["v"],"version":1},"status":"prepared"})"
                         "\n");
    Outcome again = h.run({"prepare"}, minimal_text);
    EXPECT_EQ(again.out, o.out);
    EXPECT_EQ(list_dir(h.queue), files);
    h.configure(R"({"mode":"hook"})");
    EXPECT_NE(h.run({"prepare"}, minimal_text).out.find(R"("mode":"hook")"), std::string::npos);
}

TEST(PrepareCommand, InputBoundAndRefusals) {
    AgentHome h;
    auto refused = [&](const std::string& input, const std::string& message) {
        Outcome o = h.run({"prepare"}, input);
        EXPECT_EQ(o.status, 1) << message;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "tarn-agent: " + message + "\n");
        EXPECT_EQ(list_dir(h.queue), std::vector<std::string>{}) << message;
    };
    std::string text = minimal_text;
    refused(text + std::string(65537 - text.size(), ' '), "candidate exceeds 64KiB");
    refused(std::string(1 << 20, '['), "candidate exceeds 64KiB");
    refused("", "invalid JSON");
    refused(text + "\n{}", "invalid JSON");
    refused("{\"recipe\":\"\xFF\"}", "invalid JSON");
    refused(std::string(128, '[') + std::string(128, ']'), "invalid JSON");
    refused(std::string(127, '[') + std::string(127, ']'), "candidate must be an object");
    refused("\"" + std::string(65000, 'x') + "\"", "candidate must be an object");
    Json huge = *parse(text);
    huge["recipe"]["title"] = std::string(60000, 'x');
    refused(compact(huge), "private identifier or invalid text; generalize locally before sharing");
    Json named = *parse(text);
    named["recipe"]["title"] = "Orchid retries";
    refused(compact(named), "private identifier or invalid text; generalize locally before sharing");
    Outcome o = h.run({"prepare"}, text + std::string(65536 - text.size(), '\n'));
    EXPECT_EQ(o.status, 0) << o.err;
}

TEST(PrepareCommand, ExampleCandidateIsAcceptedForTheLoginNameToo) {
    AgentHome h;
    std::string example = read_file(fs::path(TARN_SOURCE_DIR) / "examples/candidate.json");
    for (std::string term : {std::string("orchid"), login_name()}) {
        h.configure(Json{{"private_terms", {term}}}.dump());
        Outcome o = h.run({"prepare"}, example);
        EXPECT_EQ(o.status, 0) << term << ": " << o.err;
    }
    EXPECT_EQ(list_dir(h.queue).size(), 1u);
}

}  // namespace
