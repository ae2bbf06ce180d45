#include "tests/devices/ChildProcesses.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kGraceMs = 5000;

// Standard input from /dev/null, standard and error output to sOutput.
pid_t Spawn(const char* const* argv, const char* pszOutput, int nOutputFlags) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, pszOutput, nOutputFlags, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int err =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? pid : -1;
}

// A process that has exited but is not reaped yet is a zombie ('Z') in its stat
// line; one that is gone has no stat line at all.
bool HasExited(pid_t nPid) {
    std::ifstream stat("/proc/" + std::to_string(nPid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const size_t endOfName = line.rfind(')');
    return endOfName == std::string::npos || line.compare(endOfName, 3, ") Z") == 0;
}

bool WaitUntilExited(pid_t nPid, uint32_t nTimeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!HasExited(nPid)) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void End(pid_t nPid, int nSignal, bool (*pfnWait)(pid_t, uint32_t)) {
    if (nPid <= 0)
        return;
    kill(nPid, SIGCONT);
    kill(nPid, nSignal);
    if (!pfnWait(nPid, kGraceMs)) {
        kill(nPid, SIGKILL);
        pfnWait(nPid, kGraceMs);
    }
}

} // namespace

int RunQuietly(const char* const* argv) {
    const pid_t pid = SpawnQuietly(argv);
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RunForOutput(const char* const* argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0)
        return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int err =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string output;
    char chunk[256];
    ssize_t n = 0;
    while (err == 0 && (n = read(fds[0], chunk, sizeof chunk)) != 0)
        if (n > 0)
            output.append(chunk, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    close(fds[0]);
    if (err == 0)
        WaitForExit(pid, kGraceMs);
    return output;
}

pid_t SpawnQuietly(const char* const* argv) {
    return Spawn(argv, "/dev/null", O_WRONLY);
}

pid_t SpawnLogging(const char* const* argv, const std::string& sLogPath) {
    return Spawn(argv, sLogPath.c_str(), O_WRONLY | O_CREAT | O_APPEND);
}

bool WaitForExit(pid_t nPid, uint32_t nTimeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(nPid, &status, WNOHANG);
        if (done == nPid || (done < 0 && errno == ECHILD))
            return true;
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void EndChild(pid_t nPid, int nSignal) {
    End(nPid, nSignal, &WaitForExit);
}

void EndProcess(pid_t nPid, int nSignal) {
    End(nPid, nSignal, &WaitUntilExited);
}
