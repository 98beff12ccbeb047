// Programs the tests start: qvservice itself and PostgreSQL's tools.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace qv::test {

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Starts the command (looked up on PATH unless its name holds a slash) with
// the given standard streams, no other inherited descriptor and the signals
// as a shell leaves them; in a session of its own when asked. Throws
// std::runtime_error when it cannot.
pid_t Spawn(const std::vector<std::string>& command, int in, int out, int err, bool ownSession = false);

// The exit code in a wait status, or 128 + the signal that ended the child.
int ExitCode(int waitStatus);

// Runs the command to its end; with mergeErr its standard error joins out.
ToolResult RunProgram(const std::vector<std::string>& command, bool mergeErr = false);

}  // namespace qv::test
