#include "tests/capture/PrivatePulseServer.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kToneRate = 48000;
constexpr uint32_t kToneSeconds = 20;

std::string ToneFile(const std::string& sDir, double dLeftHz, double dRightHz) {
    std::ostringstream name;
    name << sDir << "/tone-" << dLeftHz << "-" << dRightHz << ".raw";
    return name.str();
}

// Interleaved 16-bit stereo at 48 kHz, little-endian like the machine.
bool WriteTone(const std::string& sPath, double dLeftHz, double dRightHz) {
    if (std::filesystem::exists(sPath))
        return true;
    std::vector<int16_t> frames(2 * size_t{kToneRate} * kToneSeconds);
    for (size_t i = 0; i < frames.size() / 2; ++i) {
        const double t = static_cast<double>(i) / kToneRate;
        frames[2 * i] =
            static_cast<int16_t>(16000.0 * std::sin(2 * std::numbers::pi * dLeftHz * t));
        frames[2 * i + 1] =
            static_cast<int16_t>(16000.0 * std::sin(2 * std::numbers::pi * dRightHz * t));
    }
    std::ofstream out(sPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(frames.data()),
              static_cast<std::streamsize>(frames.size() * sizeof frames[0]));
    return static_cast<bool>(out);
}

void SetEnv(const char* pszName, const std::string& sValue) {
    setenv(pszName, sValue.c_str(), 1);
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
        WaitForExit(pid, 5000);
    return output;
}

pid_t SpawnQuietly(const char* const* argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int err =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? pid : -1;
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

CPrivatePulseServer::CPrivatePulseServer() {
    char templ[] = "/tmp/vpa.XXXXXX";
    if (!mkdtemp(templ))
        return;
    m_sDir = templ;
    std::filesystem::create_directory(m_sDir + "/home");
    std::filesystem::create_directory(m_sDir + "/state");
    std::ofstream(m_sDir + "/client.conf") << "autospawn = no\n";
    WriteConfig();
    SetEnv("HOME", m_sDir + "/home");
    SetEnv("XDG_RUNTIME_DIR", m_sDir);
    SetEnv("PULSE_RUNTIME_PATH", m_sDir);
    SetEnv("PULSE_STATE_PATH", m_sDir + "/state");
    SetEnv("PULSE_SERVER", "unix:" + m_sDir + "/native");
    SetEnv("PULSE_CLIENTCONFIG", m_sDir + "/client.conf");
    // A bus that does not exist: nothing tries to start one.
    SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_sDir + "/no-bus");
}

CPrivatePulseServer::~CPrivatePulseServer() {
    StopTones();
    Stop();
    if (HasFolder()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_sDir, ignored);
    }
}

void CPrivatePulseServer::WriteConfig() const {
    std::ofstream pa(m_sDir + "/server.pa");
    pa << "load-module module-native-protocol-unix socket=" << m_sDir
       << "/native auth-anonymous=1\n"
       << "load-module module-null-sink sink_name=" << kSink
       << " sink_properties=device.description=" << kSinkDescription << "\n"
       << "load-module module-null-sink sink_name=" << kOtherSink
       << " sink_properties=device.description=" << kOtherSinkDescription << "\n"
       << "load-module module-null-sink sink_name=vemra_busy"
       << " sink_properties=device.description=Vemra-Busy-Output\n"
       << "load-module module-loopback source=" << kSink << ".monitor sink=vemra_busy\n"
       << "load-module module-loopback source=" << kOtherSink << ".monitor sink=vemra_busy\n"
       << "load-module module-remap-source source_name=" << kMic << " master=" << kSink
       << ".monitor source_properties=device.description=" << kMicDescription << "\n"
       << "set-default-sink " << kSink << "\n"
       << "set-default-source " << kMic
       << "\n"
       // A null sink plans its first block before anyone asks for a short one
       // and sleeps it out: two seconds. Waking it now starts its next block at
       // the loopbacks' latency, so a new recorder gets data at once.
       << "suspend-sink " << kSink << " 1\n"
       << "suspend-sink " << kSink << " 0\n"
       << "suspend-sink " << kOtherSink << " 1\n"
       << "suspend-sink " << kOtherSink << " 0\n";
}

std::string CPrivatePulseServer::Log() const {
    std::ifstream in(m_sDir + "/server.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool CPrivatePulseServer::Start(uint32_t nTimeoutMs) {
    if (!HasFolder() || IsRunning())
        return IsRunning();
    const std::string config = m_sDir + "/server.pa";
    const std::string logTarget = "--log-target=file:" + m_sDir + "/server.log";
    const char* argv[] = {"pulseaudio",
                          "-n",
                          "-F",
                          config.c_str(),
                          "--daemonize=no",
                          "--exit-idle-time=-1",
                          "--use-pid-file=no",
                          "--realtime=no",
                          "--high-priority=no",
                          "--disable-shm=yes",
                          logTarget.c_str(),
                          nullptr};
    m_nPid = SpawnQuietly(argv);
    if (m_nPid < 0)
        return false;
    const char* info[] = {"pactl", "info", nullptr};
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (Clock::now() < deadline) {
        if (RunQuietly(info) == 0)
            return true;
        if (WaitForExit(m_nPid, 0)) { // it gave up
            m_nPid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop(SIGKILL);
    return false;
}

void CPrivatePulseServer::Stop(int nSignal) {
    if (!IsRunning())
        return;
    kill(m_nPid, SIGCONT);
    kill(m_nPid, nSignal);
    if (!WaitForExit(m_nPid, 5000)) {
        kill(m_nPid, SIGKILL);
        WaitForExit(m_nPid, 5000);
    }
    m_nPid = -1;
}

void CPrivatePulseServer::Pause() {
    if (IsRunning())
        kill(m_nPid, SIGSTOP);
}

void CPrivatePulseServer::Resume() {
    if (IsRunning())
        kill(m_nPid, SIGCONT);
}

int CPrivatePulseServer::LoadModule(const std::string& sNameAndArguments) {
    std::vector<std::string> words;
    std::istringstream in(sNameAndArguments);
    for (std::string word; in >> word;)
        words.push_back(word);
    std::vector<const char*> argv{"pactl", "load-module"};
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr);
    const std::string output = RunForOutput(argv.data());
    return output.empty() ? -1 : std::atoi(output.c_str());
}

bool CPrivatePulseServer::UnloadModule(int nIndex) {
    const std::string index = std::to_string(nIndex);
    const char* argv[] = {"pactl", "unload-module", index.c_str(), nullptr};
    return RunQuietly(argv) == 0;
}

bool CPrivatePulseServer::PlayTone(const char* pszSink, double dLeftHz, double dRightHz) {
    int slot = -1;
    for (int i = 0; i < kPlayers && slot < 0; ++i)
        if (m_aPlayers[i] > 0 && m_aPlayerSinks[i] == pszSink)
            slot = i;
    for (int i = 0; i < kPlayers && slot < 0; ++i)
        if (m_aPlayers[i] <= 0)
            slot = i;
    if (slot < 0)
        return false;
    StopPlayer(slot);
    const std::string file = ToneFile(m_sDir, dLeftHz, dRightHz);
    if (!WriteTone(file, dLeftHz, dRightHz))
        return false;
    const std::string device = std::string("--device=") + pszSink;
    const std::string rate = "--rate=" + std::to_string(kToneRate);
    const char* argv[] = {"pacat",        "--playback", "--raw",        "--format=s16le",
                          "--channels=2", rate.c_str(), device.c_str(), "--latency-msec=50",
                          file.c_str(),   nullptr};
    m_aPlayers[slot] = SpawnQuietly(argv);
    m_aPlayerSinks[slot] = pszSink;
    return m_aPlayers[slot] > 0;
}

void CPrivatePulseServer::StopTones() {
    for (int i = 0; i < kPlayers; ++i)
        StopPlayer(i);
}

void CPrivatePulseServer::StopPlayer(int nIndex) {
    if (m_aPlayers[nIndex] <= 0)
        return;
    kill(m_aPlayers[nIndex], SIGKILL);
    WaitForExit(m_aPlayers[nIndex], 5000);
    m_aPlayers[nIndex] = -1;
}
