#include "setup/defaults.hpp"

#include "main/json.hpp"
#include "main/unicode.hpp"

namespace {

// The home's own name is usually the login name, the first private identifier.
// A name that is not text, or blank, would make the configuration unusable.
std::string private_term(const std::filesystem::path& home) {
    std::string name = home.filename().native();
    if (!valid_utf8(name) || trim_white_space(name).empty()) return "private-user";
    return name;
}

}  // namespace

std::string default_config(const std::filesystem::path& home) {
    Json hosts = Json::array();
    for (auto host : documentation_hosts) hosts.push_back(host);
    Json config = {{"documentation_hosts", hosts},
                   {"mode", "manual"},
                   {"private_terms", Json::array({private_term(home)})},
                   {"registry", default_registry},
                   {"tarn_bin", (home / ".local/bin/tarn").native()}};
    return pretty(config);
}
