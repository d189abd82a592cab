// The registry bridge: one bounded run of the registry tool per operation.
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "main/app.hpp"
#include "main/bridge.hpp"
#include "main/child.hpp"
#include "main/fd.hpp"
#include "main/private_files.hpp"
#include "main/stamp.hpp"

extern char** environ;

namespace {

fs::path response_path(const fs::path& queue) { return queue / ("call-" + process_stamp()); }

// Removes the response file however the call ends.
struct RemoveOnExit {
    const fs::path& path;
    ~RemoveOnExit() { ::unlink(path.c_str()); }
};

std::vector<std::string> own_environment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    return env;
}

void sleep_interval() {
    timespec left{0, std::chrono::nanoseconds(bridge_poll_interval).count()};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool over_size(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > static_cast<off_t>(bridge_output_limit);
}

// Polls until the child ends (its wait status) or a bound is crossed (nullopt).
Result<std::optional<int>> watch(Child& child, const fs::path& response) {
    auto started = std::chrono::steady_clock::now();
    for (;;) {
        if (over_size(response)) return std::optional<int>{};
        if (std::chrono::steady_clock::now() - started > bridge_time_limit) return std::optional<int>{};
        TRY_LET(ended, child.poll());
        if (ended) return ended;
        sleep_interval();
    }
}

Result<Json> read_response(const fs::path& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return fail("response unavailable");
    auto bytes = read_up_to(fd.get(), bridge_output_limit + 1);
    if (!bytes) return fail("response unavailable");
    if (bytes->size() > bridge_output_limit) return fail("registry response too large");
    return parse(*bytes);
}

Result<Json> run_tool(const App& app, const fs::path& response, std::vector<std::string> args) {
    Fd out(::open(response.c_str(), O_WRONLY | O_CLOEXEC));
    if (!out) return fail("cannot open response buffer");
    auto env = with_variables(own_environment(), app.credentials);
    env = with_variables(std::move(env), {{"TARN_URL", app.config.registry}});
    auto child = Child::spawn(app.config.tarn_bin, std::move(args), std::move(env), out.get());
    if (!child) return fail("could not start trusted tarn CLI");
    out.reset();
    TRY_LET(ended, watch(*child, response));
    if (!ended) {
        child->kill_and_reap();
        return fail("registry call exceeded output/time bound; inspect before retrying writes");
    }
    if (!WIFEXITED(*ended) || WEXITSTATUS(*ended) != 0)
        return fail("registry operation failed; check credentials, recipe validity and connectivity");
    return read_response(response);
}

}  // namespace

Result<Json> App::cli(std::string operation, std::string operand) const {
    fs::path response = response_path(queue);
    TRY(private_write(response, ""));
    RemoveOnExit remove{response};
    return run_tool(*this, response, {std::move(operation), std::move(operand), "--json", "--timeout", "10s"});
}
