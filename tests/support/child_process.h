// Programs the tests start: qvservice itself and PostgreSQL's tools.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace qv::test {

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Starts the command (on PATH) with these standard streams only and default signals, in its own session when asked.
// Throws std::runtime_error when it cannot.
pid_t Spawn(const std::vector<std::string>& command, int in, int out, int err, bool ownSession = false);

// The exit code in a wait status, or 128 + the signal that ended the child.
int ExitCode(int waitStatus);

// Runs the command to its end; with mergeErr its standard error joins out.
ToolResult RunProgram(const std::vector<std::string>& command, bool mergeErr = false);

// Runs the command to its end with the file as its standard input.
ToolResult RunWithInput(const std::vector<std::string>& command, const std::string& inputFile);

}  // namespace qv::test
