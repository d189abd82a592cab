#include "setup/locations.hpp"

#include <cstdlib>

Result<fs::path> home() {
    const char* value = std::getenv("TARN_AGENT_HOME");
    if (!value) value = std::getenv("HOME");
    if (!value) return fail("home directory unavailable");
    fs::path path(value);
    if (!path.is_absolute()) return fail("home must be absolute");
    return path;
}

fs::path default_config_path(const fs::path& home) { return home / ".config/tarn-agent/config.json"; }

Result<fs::path> config_path() {
    if (const char* value = std::getenv("TARN_AGENT_CONFIG")) return fs::path(value);
    TRY_LET(dir, home());
    return default_config_path(dir);
}
