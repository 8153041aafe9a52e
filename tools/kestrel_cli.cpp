// kestrel-cli: the engine and the decoders from the command line.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "tools/cli_command.h"

namespace kestrel::cli {
namespace {

constexpr int kMaxCommands = 32;

struct Registry {
    Command commands[kMaxCommands];
    int count = 0;
};

Registry& registry() {
    static Registry r;
    return r;
}

int PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: kestrel-cli COMMAND [ARGS]\n\ncommands:\n");
    const Registry& r = registry();
    for (int i = 0; i < r.count; ++i)
        std::fprintf(out, "  %s %s\n", r.commands[i].name, r.commands[i].usage);
    return out == stdout ? 0 : 2;
}

}  // namespace

bool RegisterCommand(const Command& command) {
    Registry& r = registry();
    if (r.count == kMaxCommands) return false;
    r.commands[r.count++] = command;
    return true;
}

}  // namespace kestrel::cli

int main(int argc, char** argv) {
    using namespace kestrel::cli;
    if (argc < 2) return PrintUsage(stderr);
    std::string_view name = argv[1];
    if (name == "help" || name == "--help" || name == "-h") return PrintUsage(stdout);
    const Registry& r = registry();
    for (int i = 0; i < r.count; ++i)
        if (name == r.commands[i].name) return r.commands[i].run(argc - 1, argv + 1);
    std::fprintf(stderr, "kestrel-cli: unknown command '%s'\n", argv[1]);
    return PrintUsage(stderr);
}
