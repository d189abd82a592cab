#pragma once
// What a fresh installation starts with.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>

inline constexpr std::string_view default_registry = "https://larder.tarn.dev";

// Where the user creates a registry token; it does not follow a configured registry.
inline constexpr std::string_view account_page = "https://larder.tarn.dev/ui/account";

// Go, Go packages, Rust, Rust crates, PostgreSQL, Python.
inline constexpr std::array<std::string_view, 6> documentation_hosts = {
    "go.dev", "pkg.go.dev", "doc.rust-lang.org", "docs.rs", "www.postgresql.org", "docs.python.org"};

// The configuration document for an install home (pretty JSON).
std::string default_config(const std::filesystem::path& home);
