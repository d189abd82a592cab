// Building the App: location, file rules, decoding, contribution settings, origin, queue.
#include <gtest/gtest.h>

#include "main/app.hpp"
#include "support/process.hpp"

namespace {

std::string build_error(const AgentHome& h) {
    auto r = h.run({"unknown-word"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string prefix = "tarn-agent: ";
    if (r.err.rfind(prefix, 0) != 0 || r.err.back() != '\n') return "bad stderr: " + r.err;
    return r.err.substr(prefix.size(), r.err.size() - prefix.size() - 1);
}

TEST(ConfigLocation, HomeRules) {
    AgentHome h;
    h.env.erase("HOME");
    EXPECT_EQ(build_error(h), "home directory unavailable");
    h.env["HOME"] = "relative/home";
    EXPECT_EQ(build_error(h), "home must be absolute");
    h.env["TARN_AGENT_HOME"] = "";
    h.env["HOME"] = h.home.string();
    EXPECT_EQ(build_error(h), "home must be absolute");
    // TARN_AGENT_HOME wins over HOME.
    TempDir other;
    h.env["TARN_AGENT_HOME"] = h.home.string();
    h.env["HOME"] = other.path().string();
    EXPECT_EQ(build_error(h), "unknown command; use help");
    h.env["TARN_AGENT_HOME"] = other.path().string();
    h.env["HOME"] = h.home.string();
    EXPECT_EQ(build_error(h), "local file unavailable");
}

TEST(ConfigLocation, ExplicitPath) {
    AgentHome h;
    h.env["TARN_AGENT_CONFIG"] = "";
    EXPECT_EQ(build_error(h), "TARN_AGENT_CONFIG must be absolute");
    h.env["TARN_AGENT_CONFIG"] = "config.json";
    EXPECT_EQ(build_error(h), "TARN_AGENT_CONFIG must be absolute");
    h.env.erase("HOME");  // an explicit path needs no home
    h.env["TARN_AGENT_CONFIG"] = h.config.string();
    EXPECT_EQ(build_error(h), "unknown command; use help");
}

TEST(ConfigFile, SizeKindAndPermissions) {
    AgentHome h;
    std::string doc = config_json();
    fs::remove(h.config);
    write_file(h.config, doc + std::string(65536 - doc.size(), ' '));
    EXPECT_EQ(build_error(h), "unknown command; use help");
    fs::remove(h.config);
    write_file(h.config, doc + std::string(65537 - doc.size(), ' '));
    EXPECT_EQ(build_error(h), "expected bounded regular file");

    h.configure();
    fs::permissions(h.config, fs::perms(0640));
    EXPECT_EQ(build_error(h), "local configuration and candidates must be private (chmod 600)");
    fs::permissions(h.config, fs::perms(0400));
    EXPECT_EQ(build_error(h), "unknown command; use help");

    fs::rename(h.config, h.config_dir / "real.json");
    fs::create_symlink(h.config_dir / "real.json", h.config);
    EXPECT_EQ(build_error(h), "expected bounded regular file");
    fs::remove(h.config);
    fs::create_directory(h.config);
    EXPECT_EQ(build_error(h), "expected bounded regular file");
}

TEST(ConfigFile, DecodingIsStrict) {
    AgentHome h;
    const std::string base = config_json();
    std::vector<std::string> bad = {
        "[]",
        "{}",
        base + "x",
        base.substr(0, base.size() - 1) + ",\"extra\":1}",
        base.substr(0, base.size() - 1) + ",\"mode\":\"manual\"}",
        config_json(R"({"mode":1})"),
        config_json(R"({"private_terms":"orchid"})"),
        config_json(R"({"documentation_hosts":[1]})"),
        config_json(R"({"tarn_bin":null})"),
    };
    for (const auto& doc : bad) {
        fs::remove(h.config);
        write_file(h.config, doc);
        EXPECT_EQ(build_error(h), "invalid companion configuration") << doc;
    }
    fs::remove(h.config);
    Json missing = Json::parse(base);
    missing.erase("registry");
    write_file(h.config, missing.dump());
    EXPECT_EQ(build_error(h), "invalid companion configuration");
}

TEST(ConfigFile, ContributionSettings) {
    AgentHome h;
    const std::string msg = "configure mode, private terms and public documentation hosts";
    for (std::string o : {R"({"mode":"Hook"})", R"({"mode":""})", R"({"private_terms":[]})",
                          R"({"private_terms":["ok"," \t"]})", R"({"private_terms":["\u3000\u00a0"]})",
                          R"({"documentation_hosts":[]})"}) {
        h.configure(o);
        EXPECT_EQ(build_error(h), msg) << o;
    }
    // Contribution settings are checked before the origin.
    h.configure(R"({"mode":"x","registry":"nope"})");
    EXPECT_EQ(build_error(h), msg);
    h.configure(R"({"mode":"hook","private_terms":[" orchid "]})");
    EXPECT_EQ(build_error(h), "unknown command; use help");
}

TEST(ConfigFile, RegistryOrigin) {
    AgentHome h;
    for (std::string good : {"https://registry.example", "https://registry.example/", "https://r.example:8443/",
                             "http://localhost/", "http://127.0.0.1:8080", "http://[::1]:9/", "HTTPS://R.EXAMPLE/",
                             "http://LOCALHOST"}) {
        h.configure(Json{{"registry", good}}.dump());
        EXPECT_EQ(build_error(h), "unknown command; use help") << good;
    }
    for (std::string bad : {"not a url", "", "/relative", "https://"}) {
        h.configure(Json{{"registry", bad}}.dump());
        EXPECT_EQ(build_error(h), "invalid registry origin") << bad;
    }
    for (std::string bad : {"http://registry.example/", "http://127.0.0.2/", "https://r.example/api",
                            "https://u@r.example/", "https://u:p@r.example/", "https://:p@r.example/",
                            "https://r.example/?", "https://r.example/#", "https://r.example/?a=1", "ftp://r.example/",
                            "file:///tmp", "http://localhost.example/"}) {
        h.configure(Json{{"registry", bad}}.dump());
        EXPECT_EQ(build_error(h), "registry must be an HTTPS origin or loopback HTTP, without credentials") << bad;
    }
}

TEST(ConfigFile, TarnBinAndQueue) {
    AgentHome h;
    h.configure(R"({"tarn_bin":"bin/tarn"})");
    EXPECT_EQ(build_error(h), "tarn_bin must be an absolute trusted executable path");
    h.configure(R"({"tarn_bin":"/no/such/tarn"})");
    EXPECT_EQ(build_error(h), "unknown command; use help");

    EXPECT_EQ(file_mode(h.queue), 0700u) << "created on first use";
    fs::permissions(h.queue, fs::perms(0755));
    EXPECT_EQ(build_error(h), "queue must have mode 700");
    fs::permissions(h.queue, fs::perms(0500));
    EXPECT_EQ(build_error(h), "unknown command; use help");
    fs::permissions(h.queue, fs::perms(0700));

    fs::rename(h.queue, h.config_dir / "elsewhere");
    fs::create_directory_symlink(h.config_dir / "elsewhere", h.queue);
    EXPECT_EQ(build_error(h), "queue must be a private directory");
    fs::remove(h.queue);
    write_file(h.queue, "", fs::perms(0600));
    EXPECT_EQ(build_error(h), "queue must be a private directory");
    fs::remove(h.queue);
    fs::create_symlink(h.config_dir / "missing", h.queue);
    EXPECT_EQ(build_error(h), "cannot create private queue");
}

TEST(ConfigFile, FailuresCreateNothingButTheQueue) {
    AgentHome h;
    h.configure(R"({"tarn_bin":"relative"})");
    build_error(h);
    EXPECT_EQ(list_dir(h.config_dir), std::vector<std::string>{"config.json"});
    h.configure();
    EXPECT_EQ(build_error(h), "unknown command; use help");
    EXPECT_EQ(list_dir(h.config_dir), (std::vector<std::string>{"config.json", "tarn-agent-queue"}));
}

TEST(ConfigFile, CredentialOverrideOfTheOrigin) {
    AgentHome h;
    write_file(h.config_dir / "production.env", "TARN_URL=http://registry.example/\n");
    EXPECT_EQ(build_error(h), "registry must be an HTTPS origin or loopback HTTP, without credentials");
    fs::remove(h.config_dir / "production.env");
    write_file(h.config_dir / "production.env", "TARN_URL=\n");
    EXPECT_EQ(build_error(h), "unknown command; use help");
    h.env["TARN_URL"] = "http://elsewhere.example/";
    EXPECT_EQ(build_error(h), "registry must be an HTTPS origin or loopback HTTP, without credentials");
    h.env["TARN_URL"] = "";
    EXPECT_EQ(build_error(h), "unknown command; use help");
}

}  // namespace
