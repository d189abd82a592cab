// The contribution mode switch and the hook drain.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <memory>
#include <unistd.h>

#include "main/contribution.hpp"
#include "main/private_files.hpp"
#include "main/share.hpp"
#include "main/unicode.hpp"

namespace {

constexpr std::size_t drain_limit = 10;

// The configuration's path with its last extension replaced by "<pid>.tmp".
fs::path temporary_config(const fs::path& config) {
    fs::path temp = config;
    return temp.replace_extension(std::to_string(::getpid()) + ".tmp");
}

Status replace_config(const fs::path& config, std::string_view bytes) {
    fs::path temp = temporary_config(config);
    TRY(private_write(temp, bytes));
    if (TEMP_FAILURE_RETRY(::rename(temp.c_str(), config.c_str())) != 0) return fail("cannot save mode");
    // The file holds the new mode now, whether or not its directory can be flushed:
    // reporting a failure would tell the user the opposite of what is on disk.
    (void)sync_directory(config.parent_path());
    return {};
}

// The part after the last dot; a name whose only dot is its first character has none.
bool is_candidate_name(std::string_view name) {
    auto dot = name.rfind('.');
    return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "json";
}

Result<std::vector<std::string>> candidate_names(const fs::path& queue) {
    DIR* opened;
    do opened = ::opendir(queue.c_str());
    while (!opened && errno == EINTR);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, ::closedir);
    if (!dir) return fail("queue unavailable");
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry) {
            if (is_candidate_name(entry->d_name)) names.emplace_back(entry->d_name);
        } else if (errno != EINTR) {
            break;
        }
    }
    // A listing cut short by an error would look like an empty queue.
    if (errno != 0) return fail("queue unavailable");
    std::ranges::sort(names);
    if (names.size() > drain_limit) names.resize(drain_limit);
    return names;
}

}  // namespace

Result<Json> set_mode(const App& app, const std::vector<std::string>& args) {
    if (args.size() < 2 || (args[1] != "manual" && args[1] != "hook")) return fail("mode manual|hook required");
    const std::string& mode = args[1];
    TRY_LET(bytes, bounded(app.config_path));
    TRY_LET(document, parse(bytes));
    // Replaced since this process read it: leave it as it is.
    if (!document.is_object()) return fail("invalid companion configuration");
    document["mode"] = mode;
    TRY(replace_config(app.config_path, pretty(document)));
    return Json{{"automatic_publication", mode == "hook"}, {"mode", mode}};
}

Result<Json> hook_drain(const App& app) {
    if (app.config.mode != "hook") return Json{{"shared", 0}, {"status", "disabled"}};
    TRY_LET(names, candidate_names(app.queue));
    Json outcomes = Json::array();
    for (const auto& name : names) {
        std::string digest = display_text(std::string_view(name).substr(0, name.size() - 5));
        if (present(attempt_marker(app.queue, digest))) continue;
        TRY_LET(outcome, app.share(digest));
        outcomes.push_back(std::move(outcome));
    }
    return Json{{"outcomes", std::move(outcomes)}, {"status", "processed"}};
}
