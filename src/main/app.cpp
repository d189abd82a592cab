#include "main/app.hpp"

#include <algorithm>
#include <sys/stat.h>

#include "main/private_files.hpp"
#include "main/unicode.hpp"
#include "main/url.hpp"
#include "setup/locations.hpp"

namespace {

bool string_list(const Json& value, std::vector<std::string>& out) {
    if (!value.is_array()) return false;
    for (const auto& item : value) {
        if (!item.is_string()) return false;
        out.push_back(item.get<std::string>());
    }
    return true;
}

bool string_member(const Json& object, const char* name, std::string& out) {
    const auto& value = object.at(name);
    if (!value.is_string()) return false;
    out = value.get<std::string>();
    return true;
}

Status check_contribution(const Config& config) {
    auto blank = [](const std::string& term) { return trim_white_space(term).empty(); };
    if ((config.mode != "hook" && config.mode != "manual") || config.private_terms.empty() ||
        std::any_of(config.private_terms.begin(), config.private_terms.end(), blank) ||
        config.documentation_hosts.empty())
        return fail("configure mode, private terms and public documentation hosts");
    return {};
}

Result<fs::path> prepare_queue(const fs::path& config_path) {
    fs::path queue = config_path.parent_path() / "tarn-agent-queue";
    if (!present(queue) && TEMP_FAILURE_RETRY(::mkdir(queue.c_str(), 0700)) != 0) return fail("cannot create private queue");
    struct stat st {};
    if (TEMP_FAILURE_RETRY(::lstat(queue.c_str(), &st)) != 0) return fail("queue unavailable");
    if (!S_ISDIR(st.st_mode)) return fail("queue must be a private directory");
    if (st.st_mode & 077) return fail("queue must have mode 700");
    return queue;
}

}  // namespace

Result<Config> decode_config(std::string_view bytes) {
    static constexpr const char* keys[] = {"documentation_hosts", "mode", "private_terms", "registry", "tarn_bin"};
    auto invalid = [] { return fail("invalid companion configuration"); };
    auto document = parse_record(bytes);
    if (!document || !document->is_object() || document->size() != std::size(keys)) return invalid();
    for (const char* key : keys)
        if (!document->contains(key)) return invalid();
    Config config;
    if (!string_member(*document, "mode", config.mode) || !string_member(*document, "registry", config.registry) ||
        !string_member(*document, "tarn_bin", config.tarn_bin) ||
        !string_list(document->at("private_terms"), config.private_terms) ||
        !string_list(document->at("documentation_hosts"), config.documentation_hosts))
        return invalid();
    return config;
}

Status check_origin(std::string_view registry) {
    auto url = parse_url(registry);
    if (!url) return fail("invalid registry origin");
    bool loopback = url->host == "localhost" || url->host == "127.0.0.1" || url->host == "[::1]";
    bool scheme_ok = url->scheme == "https" || (url->scheme == "http" && loopback);
    if (!scheme_ok || !url->username.empty() || url->has_password || url->has_query || url->has_fragment ||
        url->path != "/")
        return fail("registry must be an HTTPS origin or loopback HTTP, without credentials");
    return {};
}

Result<App> App::build() {
    TRY_LET(path, ::config_path());
    if (!path.is_absolute()) return fail("TARN_AGENT_CONFIG must be absolute");
    TRY_LET(bytes, bounded(path));
    TRY_LET(config, decode_config(bytes));
    TRY_LET(pairs, ::credentials(path));
    auto url = std::find_if(pairs.begin(), pairs.end(), [](auto& p) { return p.first == "TARN_URL"; });
    if (url != pairs.end() && !url->second.empty()) config.registry = url->second;
    TRY(check_contribution(config));
    TRY(check_origin(config.registry));
    if (!config.tarn_bin.starts_with('/')) return fail("tarn_bin must be an absolute trusted executable path");
    TRY_LET(queue, prepare_queue(path));
    return App{std::move(config), std::move(path), std::move(queue), std::move(pairs)};
}
