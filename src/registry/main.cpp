// The local registry tool: one operation per process, one exit point.
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "main/fd.hpp"
#include "main/json.hpp"
#include "registry/invocation.hpp"
#include "registry/registry.hpp"

namespace {

enum Exit { ok = 0, failure = 1, usage_error = 2 };

Result<Json> perform(const Invocation& inv) {
    TRY_LET(registry, Registry::from_environment(inv.timeout));
    if (inv.operation == "search") return registry.search(inv.operand);
    if (inv.operation == "inspect") return registry.inspect(inv.operand);
    if (inv.operation == "context") return registry.context(inv.operand);
    const char* token = std::getenv("TARN_TOKEN");
    return registry.publish(inv.operand, token ? token : "");
}

int complain(std::string_view message, int status) {
    write_all(STDERR_FILENO, "tarn: " + std::string(message) + "\n");
    return status;
}

int run(int argc, char** argv) {
    auto inv = parse_invocation(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!inv) return complain(inv.error(), usage_error);
    if (inv->help) return write_all(STDOUT_FILENO, usage_text) ? ok : failure;
    auto value = perform(*inv);
    if (!value) return complain(value.error(), failure);
    if (!write_all(STDOUT_FILENO, compact(*value) + "\n")) return complain("cannot write the result", failure);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // The store and its WAL and shared-memory files are for this user only.
    ::umask(077);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (...) {
        return complain("internal error", failure);
    }
}
