// Runs kestrel-cli for the command-line tests.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "tests/support/recording_writer.h"

namespace kestrel::testing {

struct CliRun {
    int status = -1;
    std::string out, err;
};

inline CliRun RunCli(const std::string& args, const ScratchDir& scratch) {
    const std::string errPath = scratch.File("stderr.txt");
    const std::string command = std::string(KESTREL_CLI) + " " + args + " 2>" + errPath;
    CliRun r;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (std::FILE* f = std::fopen(errPath.c_str(), "r")) {
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) r.err.append(buf.data(), n);
        std::fclose(f);
    }
    return r;
}

}  // namespace kestrel::testing
