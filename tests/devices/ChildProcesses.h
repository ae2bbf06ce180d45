#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

// Running the programs a test needs (sound servers, their tools, tone players)
// as children of the test, with nothing printed on its terminal.

// Runs a program with its output thrown away and waits for it; its exit status,
// or -1 if it could not be run.
int RunQuietly(const char* const* argv);
// Runs a program and returns what it wrote to its standard output.
std::string RunForOutput(const char* const* argv);
// Starts a program in the background with its output thrown away; its process id or -1.
pid_t SpawnQuietly(const char* const* argv);
// The same with its standard and error output appended to the file at sLogPath.
pid_t SpawnLogging(const char* const* argv, const std::string& sLogPath);
// Waits up to nTimeoutMs for the child to end; true if it ended (and was reaped).
bool WaitForExit(pid_t nPid, uint32_t nTimeoutMs);
// Sends the signal to the child (after SIGCONT, so that a frozen one can act on
// it) and waits for it to end, with SIGKILL after a few seconds if it does not.
void EndChild(pid_t nPid, int nSignal);
// The same for a process that is not our child (a daemon that forked away): it
// counts as ended once it has exited, whoever reaps it.
void EndProcess(pid_t nPid, int nSignal);
