// The process entry: one command per process, one exit point.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "main/app.hpp"
#include "main/contribution.hpp"
#include "main/fd.hpp"
#include "main/mcp.hpp"
#include "setup/install.hpp"

namespace {

constexpr std::string_view usage =
    "tarn-agent: /tl companion\n"
    "search QUERY | inspect REF | context REF | prepare < candidate.json | share DIGEST | mode manual|hook | hook | mcp\n"
    "install [--hosts codex,claude,pi|none] [--home PATH]\n"
    "Default config: ~/.config/tarn-agent/config.json; override with TARN_AGENT_CONFIG. Hooks are opt-in; hook never "
    "reads stdin/transcripts.\n";

constexpr std::size_t candidate_limit = 65536;

Status write_stdout(std::string_view bytes) {
    if (!write_all(STDOUT_FILENO, bytes)) return fail("stdout unavailable");
    return {};
}

Status print(const Result<Json>& outcome) {
    if (!outcome) return fail(outcome.error());
    return write_stdout(compact(*outcome) + "\n");
}

Result<Json> read_candidate() {
    auto bytes = read_up_to(STDIN_FILENO, candidate_limit + 1);
    if (!bytes) return fail("stdin unavailable");
    if (bytes->size() > candidate_limit) return fail("candidate exceeds 64KiB");
    return parse(*bytes);
}

Result<Json> lookup(const App& app, const std::vector<std::string>& args, const char* member) {
    if (args.size() < 2) return fail("query/ref required");
    return app.call(args[0], Json{{member, args[1]}});
}

Status dispatch(const App& app, const std::vector<std::string>& args) {
    const std::string& word = args[0];
    if (word == "search") return print(lookup(app, args, "query"));
    if (word == "inspect" || word == "context") return print(lookup(app, args, "ref"));
    if (word == "prepare") {
        TRY_LET(candidate, read_candidate());
        return print(app.prepare(candidate));
    }
    if (word == "share") {
        if (args.size() < 2) return fail("digest required");
        return print(app.share(args[1]));
    }
    if (word == "mode") {
        if (args.size() < 2) return fail("mode manual|hook required");
        return print(set_mode(app, args));
    }
    if (word == "hook") return print(hook_drain(app));
    if (word == "mcp") return mcp(app);
    return fail("unknown command; use help");
}

// A closed standard stream would be handed to the next file opened, and a
// queue or response file could then be taken for one: the registry tool's
// answer would go to the null device meant for its input. Each closed one is
// held by the null device opened the wrong way round, so using it still fails
// as a closed stream does ("stdin unavailable", "stdout unavailable").
void hold_closed_standard_streams() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            (void)::open("/dev/null", (fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
}

Status run(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (args.empty()) args.emplace_back("help");
    if (args[0] == "install") return install({args.begin() + 1, args.end()});
    if (args[0] == "help" || args[0] == "--help") return write_stdout(usage);
    TRY_LET(app, App::build());
    return dispatch(app, args);
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe must surface as a write error, not end the process silently.
    std::signal(SIGPIPE, SIG_IGN);
    // The registry tool must be waited for; an inherited "ignore" would have it reaped behind our back.
    std::signal(SIGCHLD, SIG_DFL);
    hold_closed_standard_streams();
    Status outcome = [&]() -> Status {
        try {
            return run(argc, argv);
        } catch (...) {
            return fail("internal error");
        }
    }();
    if (outcome) return 0;
    write_all(STDERR_FILENO, "tarn-agent: " + outcome.error() + "\n");
    return 1;
}
