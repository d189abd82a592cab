#include "setup/install.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "main/fd.hpp"
#include "main/json.hpp"
#include "main/private_files.hpp"
#include "main/unicode.hpp"
#include "setup/credentials.hpp"
#include "setup/defaults.hpp"
#include "setup/hosts.hpp"
#include "setup/locations.hpp"
#include "setup/safe_files.hpp"
#include "setup/texts.hpp"

namespace {

// A selection line longer than this cannot be valid; the rest is not read.
constexpr std::size_t selection_limit = 4096;

struct Options {
    fs::path home;
    std::optional<std::string> hosts;
};

Result<Options> read_options(const std::vector<std::string>& args, fs::path home) {
    Options options{std::move(home), std::nullopt};
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 == args.size()) return fail("install requires --hosts codex,claude,pi|none [--home PATH]");
        if (args[i] == "--home")
            options.home = args[i + 1];
        else if (args[i] == "--hosts")
            options.hosts = args[i + 1];
        else
            return fail("unknown install option");
    }
    return options;
}

// "." components and repeated or trailing slashes change nothing.
fs::path without_dots(const fs::path& path) {
    fs::path out;
    for (const fs::path& part : path)
        if (!part.empty() && part != ".") out /= part;
    return out;
}

// Resolves the existing part of the home so that no symbolic link is left in it.
Result<fs::path> resolve_home(const fs::path& home) {
    if (!home.is_absolute()) return fail("install home must be an absolute path without parent traversal");
    for (const fs::path& part : home)
        if (part == "..") return fail("install home must be an absolute path without parent traversal");
    fs::path base = without_dots(home);
    std::vector<fs::path> missing;
    for (; !present(base); base = base.parent_path()) {
        if (!base.has_filename() || !base.has_relative_path()) return fail("invalid home");
        missing.push_back(base.filename());
    }
    char* canonical;
    do canonical = ::realpath(base.c_str(), nullptr);
    while (!canonical && errno == EINTR);
    if (!canonical) return fail("cannot resolve home");
    fs::path resolved(canonical);
    std::free(canonical);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) resolved /= *it;
    return resolved;
}

Result<std::string> read_line() {
    std::string line;
    char c = 0;
    while (line.size() < selection_limit) {
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail("host selection unavailable");
        if (n == 0 || c == '\n') break;
        line += c;
    }
    return line;
}

Result<std::string> ask(const fs::path& home) {
    auto seen = [&](const char* name) { return present(home / name) ? "true" : "false"; };
    std::string prompt = std::string("Detected host settings: codex=") + seen(".codex") + ", claude=" +
                         seen(".claude") + ", pi=" + seen(".pi") + "\nChoose hosts (codex,claude,pi), or none:\n";
    (void)write_all(STDERR_FILENO, prompt);
    TRY_LET(line, read_line());
    return std::string(trim_white_space(line));
}

Result<std::vector<std::string>> selected_hosts(std::string_view selection) {
    std::vector<std::string> names;
    for (std::size_t start = 0;;) {
        auto comma = selection.find(',', start);
        names.emplace_back(selection.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    for (const std::string& name : names) {
        bool known = name == "codex" || name == "claude" || name == "pi" || name == "none";
        if (selection.empty() || !known || (name == "none" && selection != "none"))
            return fail("select codex,claude,pi or none");
    }
    return names;
}

Result<fs::path> running_executable() {
    char target[PATH_MAX];
    ssize_t n = TEMP_FAILURE_RETRY(::readlink("/proc/self/exe", target, sizeof target));
    if (n <= 0 || static_cast<std::size_t>(n) == sizeof target || target[0] != '/')
        return fail("installer executable unavailable");
    return fs::path(std::string(target, static_cast<std::size_t>(n)));
}

Result<std::string> release_file(const fs::path& path) {
    constexpr std::string_view missing = "release must contain sibling tarn and tarn-agent executables";
    Fd fd(TEMP_FAILURE_RETRY(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)));
    struct stat st {};
    if (!fd || TEMP_FAILURE_RETRY(::fstat(fd.get(), &st)) != 0 || !S_ISREG(st.st_mode)) return fail(std::string(missing));
    auto bytes = read_up_to(fd.get(), destination_limit + 1);
    if (!bytes || bytes->size() > destination_limit) return fail(std::string(missing));
    return std::move(*bytes);
}

// Only an earlier installation of this program may have its files replaced.
Result<bool> manifest_is_ours(const std::optional<std::string>& bytes) {
    if (!bytes) return false;
    TRY_LET(manifest, parse(*bytes));
    return manifest.is_object() && manifest.value("installer", Json()) == "tarn-agent";
}

std::string manifest() { return pretty(Json{{"installer", "tarn-agent"}, {"version", "0.1.0"}}); }

Result<Plan> plan_install(const fs::path& home, const std::vector<std::string>& names) {
    fs::path bin = home / ".local/bin";
    fs::path config = default_config_path(home);
    // A configuration cannot name a registry tool whose path is not text.
    if (!valid_utf8((bin / "tarn").native())) return fail("invalid executable path");
    Plan plan;
    TRY(add(plan, config, default_config(home), true, false, false));
    TRY(add(plan, config.parent_path() / "production.env", credentials_template(default_registry), true, false,
            false));
    HostInputs inputs{home, bin / "tarn-agent", config, skill_text(bin / "tarn-agent")};
    for (const std::string& name : names) TRY(plan_host(name, inputs, plan));
    TRY_LET(program, running_executable());
    fs::path manifest_path = config.parent_path() / "installed.json";
    TRY_LET(previous_manifest, existing(manifest_path));
    TRY_LET(ours, manifest_is_ours(previous_manifest));
    TRY_LET(registry_tool, release_file(program.parent_path() / "tarn"));
    TRY(add(plan, bin / "tarn", std::move(registry_tool), false, ours, true));
    // The running image itself, even if its file was replaced since it started.
    TRY_LET(companion, release_file("/proc/self/exe"));
    TRY(add(plan, bin / "tarn-agent", std::move(companion), false, ours, true));
    TRY(add_over(plan, manifest_path, std::move(previous_manifest), manifest(), false, ours, false));
    return plan;
}

std::string summary(const fs::path& home, std::string_view selection) {
    fs::path bin = home / ".local/bin";
    fs::path credentials = default_config_path(home).parent_path() / "production.env";
    return "Installed Tarn client in " + display(bin) + ". Selected hosts: " + std::string(selection) +
           ". Restart those hosts.\nCredentials: " + display(credentials) +
           " (existing values preserved). Search works without a token.\nCreate a Read and contribute token at " +
           std::string(account_page) +
           " when ready to share.\nAdd project identifiers to private_terms before preparing contributions. "
           "Automatic sharing remains opt-in.\nEnsure " +
           display(bin) + " is on PATH.\n";
}

}  // namespace

Status install(const std::vector<std::string>& args) {
    TRY_LET(user_home, home());
    TRY_LET(options, read_options(args, std::move(user_home)));
    TRY_LET(root, resolve_home(options.home));
    TRY(dir(root));
    TRY_LET(selection, options.hosts ? Result<std::string>(*options.hosts) : ask(root));
    TRY_LET(names, selected_hosts(selection));
    TRY_LET(plan, plan_install(root, names));
    TRY(commit(plan, root));
    if (!write_all(STDOUT_FILENO, summary(root, selection))) return fail("stdout unavailable");
    return {};
}
