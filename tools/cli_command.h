// Sub-commands of kestrel-cli register themselves here, one source file each.
#pragma once

namespace kestrel::cli {

struct Command {
    const char* name;     // as typed: "info", "decode-h264", ...
    const char* usage;    // one line of arguments, shown by "kestrel-cli help"
    int (*run)(int argc, char** argv);  // argv[0] is the command name; returns the exit status
};

bool RegisterCommand(const Command& command);

}  // namespace kestrel::cli

// In a cli_<name>.cpp: KESTREL_CLI_COMMAND(info, "info", "FILE [--json]", RunInfo);
#define KESTREL_CLI_COMMAND(id, name, usage, fn) \
    static const bool kestrel_cli_registered_##id = ::kestrel::cli::RegisterCommand({name, usage, fn})
