#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "main/json.hpp"
#include "main/result.hpp"
#include "setup/credentials.hpp"

namespace fs = std::filesystem;

struct Config {
    std::string mode;
    std::string registry;
    std::string tarn_bin;
    std::vector<std::string> private_terms;
    std::vector<std::string> documentation_hosts;
};

// Built once per process from the configuration, the credentials and the
// environment; lent read-only to every operation.
struct App {
    Config config;
    fs::path config_path;
    fs::path queue;
    Credentials credentials;

    static Result<App> build();

    // Screens one text that is about to leave the machine.
    static Status text(const std::vector<std::string>& private_terms, std::string_view text);

    // Runs the registry tool once: operation word and operand.
    Result<Json> cli(std::string operation, std::string operand) const;
    // Validates a candidate envelope; returns the prepared recipe.
    Result<Json> recipe(const Json& candidate) const;
    // Validates and queues a candidate; returns the prepare report.
    Result<Json> prepare(const Json& candidate) const;
    // Publishes one queued recipe at most once.
    Result<Json> share(std::string_view digest) const;
    // One tool call, shared by the command line and the MCP server.
    Result<Json> call(std::string_view name, const Json& arguments) const;
};

// Decodes the configuration document; any fault is "invalid companion configuration".
Result<Config> decode_config(std::string_view bytes);

// The registry origin rules: HTTPS, or HTTP on a loopback host; no credentials,
// query, fragment or path beyond "/".
Status check_origin(std::string_view registry);
