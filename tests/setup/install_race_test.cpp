// Two installs into one home at once, from one release directory.
#include <gtest/gtest.h>
#include <iostream>

#include "support/launch.hpp"

namespace {

// Every file below `home` with its permission bits and bytes, the home's own path written as "HOME".
std::map<std::string, std::string> files_below(const fs::path& home) {
    std::map<std::string, std::string> files;
    for (auto& e : fs::recursive_directory_iterator(home)) {
        if (!e.is_regular_file()) continue;
        std::string bytes = read_file(e.path());
        for (auto at = bytes.find(home.string()); at != std::string::npos; at = bytes.find(home.string(), at))
            bytes.replace(at, home.string().size(), "HOME");
        files[fs::relative(e.path(), home).string()] = std::to_string(file_mode(e.path())) + " " + bytes;
    }
    return files;
}

TEST(InstallRace, NoDestinationHalfWrittenAndTheLoserFailsCleanly) {
    TempDir t;
    fs::path base = fs::canonical(t.path()), release = base / "release";
    fs::create_directories(release);
    fs::copy_file(TARN_AGENT_BIN, release / "tarn-agent");
    write_file(release / "tarn", "#!/bin/sh\necho '{}'\n", fs::perms(0755));
    std::map<std::string, std::string> env{{"HOME", (base / "nobody-home").string()}, {"PATH", "/usr/bin:/bin"}};
    auto install = [&](const fs::path& home) {
        Launch l;
        l.args = {(release / "tarn-agent").string(), "install", "--hosts", "none", "--home", home.string()};
        l.env = env;
        return l;
    };
    auto intended = [&] {
        Starter one;
        one.add(install(base / "reference" / "ana"));
        EXPECT_EQ(one.wait_all()[0].status, 0);
        return files_below(base / "reference" / "ana");
    }();
    int attempts = 0, succeeded = 0, retry = 0;
    for (int round = 0; round < 4; ++round) {
        fs::path home = base / std::to_string(round) / "ana";
        Starter starter;
        starter.add(install(home));
        starter.add(install(home));
        for (const Outcome& o : starter.wait_all()) {
            ++attempts;
            if (o.status == 0 && o.err.empty() && o.out.starts_with("Installed Tarn client in " + home.string()))
                ++succeeded;
            else if (o.status == 1 && o.out.empty() &&
                     o.err == "tarn-agent: configuration changed during installation; retry\n")
                ++retry;
            else
                ADD_FAILURE() << o.status << " " << o.out << o.err;
        }
        // Byte for byte what one run intends, with its modes; no temporary file and nothing backed up.
        EXPECT_EQ(files_below(home), intended);
    }
    EXPECT_GE(succeeded, 4);
    std::cout << "[figures] install race: " << attempts << " installs in pairs, " << succeeded << " succeeded, "
              << retry << " asked to retry, every destination complete\n";
}

}  // namespace
