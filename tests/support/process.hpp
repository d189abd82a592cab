#pragma once
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program with exactly the given environment and standard input
// (nullopt: standard input is /dev/null).
Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, const std::optional<std::string>& input = {});

// A fresh directory, removed with everything in it when the test ends.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& rel) const { return path_ / rel; }

  private:
    fs::path path_;
};

// Writes a file with the given mode (creating parent directories).
void write_file(const fs::path& path, const std::string& bytes, fs::perms mode = fs::perms(0600));
std::string read_file(const fs::path& path);
unsigned file_mode(const fs::path& path);  // permission bits, lstat
std::vector<std::string> list_dir(const fs::path& dir);  // sorted names

// A home with a valid private configuration and tarn-agent ready to run in it.
struct AgentHome {
    TempDir dir;
    fs::path home = dir.path();
    fs::path config_dir = home / ".config/tarn-agent";
    fs::path config = config_dir / "config.json";
    fs::path queue = config_dir / "tarn-agent-queue";
    std::map<std::string, std::string> env;

    // mode "manual", private term "orchid", the six default documentation hosts,
    // registry "https://registry.example/", tarn_bin "/usr/bin/false".
    AgentHome();
    // Rewrites config.json from the default document with members replaced.
    void configure(const std::string& member_json_overrides = "{}");
    Outcome run(const std::vector<std::string>& args, const std::optional<std::string>& input = {}) const;
};

// The default configuration document used by AgentHome, with overrides merged in (JSON text).
std::string config_json(const std::string& overrides = "{}");
