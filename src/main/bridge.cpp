// The registry bridge: one bounded run of the registry tool per operation.
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "main/app.hpp"
#include "main/bridge.hpp"
#include "main/child.hpp"
#include "main/fd.hpp"
#include "main/interruption.hpp"
#include "main/private_files.hpp"
#include "main/stamp.hpp"

extern char** environ;

namespace {

fs::path response_path(const fs::path& queue) { return queue / ("call-" + process_stamp()); }

// Removes the response file however the call ends.
struct RemoveOnExit {
    const fs::path& path;
    ~RemoveOnExit() { (void)TEMP_FAILURE_RETRY(::unlink(path.c_str())); }
};

std::vector<std::string> own_environment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    return env;
}

bool over_size(const fs::path& path) {
    struct stat st {};
    return TEMP_FAILURE_RETRY(::stat(path.c_str(), &st)) == 0 && st.st_size > static_cast<off_t>(bridge_output_limit);
}

enum class Watched { ended, bound, interrupted };

// Checks size, time and exit in that order, at most one interval apart; the
// wait between two checks ends early when the child exits or a signal comes.
Result<Watched> watch(Child& child, const fs::path& response, Interruptions& signals, int& status) {
    auto started = std::chrono::steady_clock::now();
    for (;;) {
        if (over_size(response)) return Watched::bound;
        if (std::chrono::steady_clock::now() - started > bridge_time_limit) return Watched::bound;
        TRY_LET(ended, child.poll());
        if (ended) {
            status = *ended;
            return Watched::ended;
        }
        if (signals.wait(bridge_poll_interval)) return Watched::interrupted;
    }
}

Result<Json> read_response(const fs::path& path) {
    Fd fd(TEMP_FAILURE_RETRY(::open(path.c_str(), O_RDONLY | O_CLOEXEC)));
    if (!fd) return fail("response unavailable");
    auto bytes = read_up_to(fd.get(), bridge_output_limit + 1);
    if (!bytes) return fail("response unavailable");
    if (bytes->size() > bridge_output_limit) return fail("registry response too large");
    return parse(*bytes);
}

Result<Json> run_tool(const App& app, const fs::path& response, std::vector<std::string> args, Interruptions& signals) {
    Fd out(TEMP_FAILURE_RETRY(::open(response.c_str(), O_WRONLY | O_CLOEXEC)));
    if (!out) return fail("cannot open response buffer");
    auto env = with_variables(own_environment(), app.credentials);
    env = with_variables(std::move(env), {{"TARN_URL", app.config.registry}});
    auto child = Child::spawn(app.config.tarn_bin, std::move(args), std::move(env), out.get());
    if (!child) return fail("could not start trusted tarn CLI");
    out.reset();
    int status = 0;
    TRY_LET(watched, watch(*child, response, signals, status));
    if (watched != Watched::ended) child->kill_and_reap();
    // Never printed: the caught signal ends the process once the call is undone.
    if (watched == Watched::interrupted) return fail("interrupted");
    if (watched == Watched::bound)
        return fail("registry call exceeded output/time bound; inspect before retrying writes");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return fail("registry operation failed; check credentials, recipe validity and connectivity");
    return read_response(response);
}

}  // namespace

Result<Json> App::cli(std::string operation, std::string operand) const {
    Interruptions signals;  // first, so that it is undone last
    fs::path response = response_path(queue);
    // Flushing an empty buffer that is removed when the call ends would only
    // wait for the disk: it cost about 3 ms of every lookup.
    TRY(private_create(response));
    RemoveOnExit remove{response};
    return run_tool(*this, response, {std::move(operation), std::move(operand), "--json", "--timeout", "10s"},
                    signals);
}
