#include "setup/credentials.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "main/private_files.hpp"
#include "main/unicode.hpp"

namespace {

bool valid_token(std::string_view token) {
    auto allowed = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    };
    return token.size() >= 3 && token.size() <= 256 && token.starts_with("tl_") &&
           std::all_of(token.begin(), token.end(), allowed);
}

Status check_entry(std::string_view line, Credentials& entries) {
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return fail("credential file requires literal KEY=value lines");
    std::string_view key = line.substr(0, eq);
    bool seen = std::any_of(entries.begin(), entries.end(), [&](auto& e) { return e.first == key; });
    if ((key != "TARN_TOKEN" && key != "TARN_URL") || seen) return fail("unknown or duplicate credential key");
    std::string_view value = trim_white_space(line.substr(eq + 1));
    if (value.find_first_of("\"$';\\`") != std::string_view::npos || has_white_space(value))
        return fail("credential values must be literal, unquoted and contain no whitespace");
    if (key == "TARN_TOKEN" && !value.empty() && !valid_token(value)) return fail("invalid Tarn token format");
    entries.emplace_back(key, value);
    return {};
}

// An environment value that is not valid Unicode counts as absent.
std::optional<std::string> env_text(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !valid_utf8(value)) return std::nullopt;
    return std::string(value);
}

void set_pair(Credentials& pairs, const std::string& name, const std::string& value) {
    auto it = std::find_if(pairs.begin(), pairs.end(), [&](auto& e) { return e.first == name; });
    if (it != pairs.end())
        it->second = value;
    else
        pairs.emplace_back(name, value);
}

const std::string* find_pair(const Credentials& pairs, std::string_view name) {
    auto it = std::find_if(pairs.begin(), pairs.end(), [&](auto& e) { return e.first == name; });
    return it == pairs.end() ? nullptr : &it->second;
}

}  // namespace

Result<Credentials> credential_entries(std::string_view text) {
    if (!valid_utf8(text)) return fail("invalid credential file");
    Credentials entries;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        line = trim_white_space(line);
        if (line.empty() || line.front() == '#') continue;
        TRY(check_entry(line, entries));
    }
    return entries;
}

Result<Credentials> credentials(const std::filesystem::path& config_path) {
    if (!config_path.has_relative_path()) return fail("invalid config path");
    auto path = config_path.parent_path() / "production.env";
    Credentials pairs;
    struct stat st {};
    if (TEMP_FAILURE_RETRY(::lstat(path.c_str(), &st)) == 0) {
        TRY_LET(bytes, bounded(path));
        TRY_LET(entries, credential_entries(bytes));
        pairs = std::move(entries);
    } else if (errno != ENOENT) {
        return fail("credential file unavailable");
    }

    auto env_url = env_text("TARN_URL");
    auto env_token = env_text("TARN_TOKEN");
    const std::string* file_token = find_pair(pairs, "TARN_TOKEN");
    const std::string* file_url = find_pair(pairs, "TARN_URL");
    // A stored token must not follow a registry override to another origin. A
    // token override that is not text is never handed on, so it does not count.
    if (!env_token && file_token && !file_token->empty() && env_url && !env_url->empty() &&
        (!file_url || *file_url != *env_url))
        return fail("registry override requires an explicit token override");

    if (env_url) set_pair(pairs, "TARN_URL", *env_url);
    if (env_token) set_pair(pairs, "TARN_TOKEN", *env_token);
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

std::string credentials_template(std::string_view registry_origin) {
    return "TARN_URL=" + std::string(registry_origin) + "\nTARN_TOKEN=\n";
}
