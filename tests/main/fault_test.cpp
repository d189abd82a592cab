// Injected faults, each with what must hold afterwards.
#include <chrono>
#include <gtest/gtest.h>
#include <iostream>

#include "support/candidates.hpp"
#include "support/launch.hpp"

namespace {

constexpr const char* registry_failed =
    "tarn-agent: registry operation failed; check credentials, recipe validity and connectivity\n";

Outcome launch(const Launch& l) {
    Starter starter;
    starter.add(l);
    return starter.wait_all()[0];
}

void expect_failure(const Outcome& o, const std::string& message) {
    EXPECT_EQ(o.err, "tarn-agent: " + message + "\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
}

TEST(Fault, FileSizeLimitLeavesAPartialQueueFileThatShareRefuses) {
    PublishHome reference, h;
    Outcome expected = reference.run({"prepare"}, candidate_text(1));
    std::string digest = parse(expected.out).value()["digest"].get<std::string>();
    std::string canonical = read_file(reference.file(digest, ".json"));
    ASSERT_GT(canonical.size(), 100u);

    Launch limited = agent(h, {"prepare"}, candidate_text(1));
    limited.file_size_limit = 100;
    expect_failure(launch(limited), "cannot save private artifact");
    EXPECT_EQ(list_dir(h.queue), std::vector<std::string>{digest + ".json"});
    EXPECT_EQ(read_file(h.file(digest, ".json")), canonical.substr(0, 100));

    // A strict prefix of a compact object is never one JSON value: refused before a marker or the tool.
    expect_failure(h.run({"share", digest}), "invalid JSON");
    EXPECT_EQ(h.log.calls(), 0u);

    // Already queued as far as prepare is concerned: the report again, nothing rewritten.
    EXPECT_EQ(h.run({"prepare"}, candidate_text(1)).out, expected.out);
    EXPECT_EQ(read_file(h.file(digest, ".json")), canonical.substr(0, 100));
    EXPECT_EQ(list_dir(h.queue), std::vector<std::string>{digest + ".json"});
    std::cout << "[figures] file-size limit of 100 bytes on prepare: cannot save private artifact, "
              << canonical.size() << "-byte file kept at 100 bytes, share refused, 0 tool calls\n";
}

TEST(Fault, ToolKilledBySignalLeavesTheMarkerAndNoReceipt) {
    PublishHome h;
    std::string digest = h.prepare(1);
    h.env["FAKE_TARN_MODE"] = "killed";
    Outcome o = h.run({"share", digest});
    EXPECT_EQ(o.err, registry_failed);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(read_file(h.file(digest, ".attempt")), "inspect registry before any manual recovery\n");
    EXPECT_EQ(list_dir(h.queue), (std::vector<std::string>{digest + ".attempt", digest + ".json"}));
    // Outcome unknown: never published again without a person.
    h.env.erase("FAKE_TARN_MODE");
    expect_failure(h.run({"share", digest}), "cannot exclusively create private artifact");
    EXPECT_EQ(h.log.calls(), 1u);
}

// A host stopping the server or the hook, or Ctrl-C on share: the tool is killed and reaped, its
// response file removed, the marker kept, and the companion ends by the signal that stopped it.
TEST(Fault, InterruptedCallUndoesItselfAndEndsByTheSignal) {
    PublishHome h;
    h.env["FAKE_TARN_MODE"] = "sleep";
    int n = 0;
    for (int signal : {SIGTERM, SIGINT, SIGHUP, 0}) {
        std::string digest = h.prepare(++n);
        fs::remove(h.log.dir / "pid");
        Starter starter;
        Launch share = agent(h, {"share", digest});
        if (!signal) {  // ignored from the start: it stays ignored and the call completes
            share.ignored_signals = {SIGHUP};
            h.env["FAKE_TARN_MODE"] = "slow";
            share.env = h.env;
        }
        std::size_t index = starter.add(share);
        starter.release();
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(h.log.dir / "pid") && std::chrono::steady_clock::now() < until) ::usleep(1000);
        ::usleep(20000);
        ::kill(starter.pid(index), signal ? signal : SIGHUP);
        Outcome o = starter.wait_all()[0];
        pid_t tool = std::stoi(h.log.record("pid"));
        EXPECT_NE(::kill(tool, 0), 0) << "the registry tool is still running";
        std::vector<std::string> expected = {digest + ".attempt", digest + ".json"};
        if (!signal) {
            EXPECT_EQ(o.status, 0) << o.err;
            expected.push_back(digest + ".receipt");
        } else {
            EXPECT_EQ(o.status, 128 + signal) << o.err;
            EXPECT_EQ(o.out + o.err, "");
        }
        std::vector<std::string> left;
        for (auto& name : list_dir(h.queue))
            if (name.starts_with(digest) || name.starts_with("call-")) left.push_back(name);
        EXPECT_EQ(left, expected) << signal;
    }
}

TEST(Fault, GrandchildHoldingTheOutputOpenDoesNotHoldTheCall) {
    PublishHome h;
    std::string digest = h.prepare(1);
    // The tool answers and exits; its background child keeps writing blanks into the same output.
    fs::path tool = h.dir / "lingering-tool", pid_file = h.dir / "grandchild";
    write_file(tool,
               "#!/bin/sh\nprintf '{\"id\":7}'\n"
               "( i=0; while [ $i -lt 2000 ]; do printf ' '; sleep 0.01; i=$((i+1)); done ) &\n"
               "echo $! >" + pid_file.string() + "\nexit 0\n",
               fs::perms(0700));
    h.configure(R"({"tarn_bin":")" + tool.string() + R"("})");
    auto started = std::chrono::steady_clock::now();
    Outcome o = h.run({"share", digest});
    auto took = std::chrono::steady_clock::now() - started;
    pid_t grandchild = std::stoi(read_file(pid_file));
    EXPECT_EQ(::kill(grandchild, 0), 0) << "the grandchild should still be running";
    ::kill(grandchild, SIGKILL);
    EXPECT_EQ(o.out, R"({"digest":")" + digest + R"(","result":{"id":7},"status":"shared"})" "\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_LT(took, std::chrono::seconds(3));
    for (auto& name : list_dir(h.queue)) EXPECT_FALSE(name.starts_with("call-")) << name;
    std::cout << "[figures] lingering grandchild: share returned after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
}

TEST(Fault, UnwritableStandardOutputIsOneMessageNeverADeathBySignal) {
    AgentHome h;
    int cases = 0;
    for (Stdout out : {Stdout::Closed, Stdout::BrokenPipe}) {
        for (auto args : {std::vector<std::string>{"hook"}, {"mode", "hook"}, {"mcp"}}) {
            Launch l = agent(h, args, R"({"jsonrpc":"2.0","id":1,"method":"ping"})" "\n");
            l.out = out;
            Outcome o = launch(l);
            EXPECT_EQ(o.err, "tarn-agent: stdout unavailable\n") << args[0];
            EXPECT_EQ(o.status, 1) << args[0];
            ++cases;
        }
    }
    // The switch itself was made before the result could not be printed.
    EXPECT_NE(read_file(h.config).find("\"mode\": \"hook\""), std::string::npos);
    std::cout << "[figures] closed or broken standard output: " << cases << " runs, each 'stdout unavailable'\n";
}

TEST(Fault, ClosedStandardStreamsAreNeverTakenForAQueueFile) {
    // A host may start the hook with its standard streams closed: the next file opened must
    // not become one of them, or the tool's answer would go where its input should come from.
    PublishHome h(R"({"mode":"hook"})");
    std::string first = h.prepare(1), second = h.prepare(2);
    Launch hook = agent(h, {"hook"});
    hook.stdin_closed = hook.stderr_closed = true;
    auto shared = [](const std::string& d) { return R"({"digest":")" + d + R"(","result":{"ok":true},"status":"shared"})"; };
    EXPECT_EQ(launch(hook).out, "{\"outcomes\":[" + shared(std::min(first, second)) + "," +
                                    shared(std::max(first, second)) + "],\"status\":\"processed\"}\n");
    Launch share = agent(h, {"share", first});
    share.stdin_closed = true;
    EXPECT_EQ(launch(share).out, R"({"digest":")" + first + R"(","status":"already_shared"})" "\n");
    for (const auto& d : {first, second}) EXPECT_EQ(read_file(h.file(d, ".receipt")), "published\n");
    Launch prepare = agent(h, {"prepare"});
    prepare.stdin_closed = true;
    expect_failure(launch(prepare), "stdin unavailable");
    prepare.out = Stdout::Closed;
    prepare.input = candidate_text(3);
    prepare.stdin_closed = false;
    expect_failure(launch(prepare), "stdout unavailable");
}

TEST(Fault, QueueVanishedReplacedOrUnlistable) {
    PublishHome h(R"({"mode":"hook"})");
    std::string digest = h.prepare(1);
    ASSERT_EQ(h.run({"share", digest}).status, 0);
    fs::remove_all(h.queue);
    EXPECT_EQ(h.run({"hook"}).out, "{\"outcomes\":[],\"status\":\"processed\"}\n");
    EXPECT_EQ(file_mode(h.queue), 0700u);
    EXPECT_TRUE(list_dir(h.queue).empty());

    fs::remove(h.queue);
    write_file(h.queue, "", fs::perms(0600));
    for (auto args : {std::vector<std::string>{"hook"}, {"share", digest}, {"prepare"}})
        expect_failure(h.run(args, candidate_text(1)), "queue must be a private directory");

    // Permissions bind only a user other than root: the whole home goes to nobody.
    fs::remove(h.queue);
    digest = h.prepare(1);
    for (auto& e : fs::recursive_directory_iterator(h.home)) ::lchown(e.path().c_str(), 65534, 65534);
    ::chown(h.home.c_str(), 65534, 65534);
    auto as_nobody = [&](std::vector<std::string> args) {
        Launch l = agent(h, std::move(args), candidate_text(2));
        l.as_nobody = true;
        return launch(l);
    };
    fs::permissions(h.queue, fs::perms(0300));  // searchable, not listable
    expect_failure(as_nobody({"hook"}), "queue unavailable");
    fs::permissions(h.queue, fs::perms(0));
    expect_failure(as_nobody({"prepare"}), "cannot exclusively create private artifact");
    expect_failure(as_nobody({"share", digest}), "local file unavailable");
    fs::permissions(h.queue, fs::perms(0700));
    EXPECT_EQ(list_dir(h.queue), std::vector<std::string>{digest + ".json"});
    EXPECT_EQ(h.log.calls(), 1u);  // only the first share reached the tool
}

TEST(Fault, LinkSwappedInForTheQueuedFileIsNeverRead) {
    PublishHome h;
    std::string digest = h.prepare(1), other = h.prepare(2);
    fs::path queued = h.file(digest, ".json");
    fs::create_hard_link(queued, h.dir / "genuine");
    fs::path stop = h.dir / "stop", swaps = h.dir / "swaps";
    Starter starter;
    // Swaps a link to another queued recipe in and the genuine file back, each by an atomic rename.
    starter.add_loop([&] {
        fs::path link = h.dir / "link", copy = h.dir / "copy";
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        long n = 0;
        for (; !fs::exists(stop) && std::chrono::steady_clock::now() < until; ++n) {
            ::symlink(h.file(other, ".json").c_str(), link.c_str());
            ::rename(link.c_str(), queued.c_str());
            ::usleep(50);
            ::link((h.dir / "genuine").c_str(), copy.c_str());
            ::rename(copy.c_str(), queued.c_str());
            ::usleep(50);
        }
        write_file(swaps, std::to_string(n));
    });
    starter.release();
    // Following the link would read the other recipe: "candidate changed since preview".
    std::map<std::string, int> seen;
    const std::string shared = R"({"digest":")" + digest + R"(","result":{"ok":true},"status":"shared"})" "\n";
    const std::string already = R"({"digest":")" + digest + R"(","status":"already_shared"})" "\n";
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int shares = 0;
    for (; shares < 300 && std::chrono::steady_clock::now() < until; ++shares) {
        Outcome o = h.run({"share", digest});
        if (o.status == 0 && (o.out == shared || o.out == already))
            ++seen[o.out == shared ? "shared" : "already shared"];
        else if (o.status == 1 && o.err == "tarn-agent: expected bounded regular file\n")
            ++seen["link refused"];
        else
            ADD_FAILURE() << o.status << " " << o.out << o.err;
    }
    write_file(stop, "");
    starter.wait_all();
    EXPECT_LE(seen["shared"], 1);
    // Only ever the genuine file's path, once; what is behind it was checked just before.
    EXPECT_EQ(h.log.record("calls"), seen["shared"] ? queued.string() + "\n" : "");
    std::cout << "[figures] link swap: " << read_file(swaps) << " swaps, " << shares << " shares: " << seen["shared"]
              << " shared, " << seen["already shared"] << " already shared, " << seen["link refused"]
              << " refused the link, 0 followed it\n";
}

}  // namespace
