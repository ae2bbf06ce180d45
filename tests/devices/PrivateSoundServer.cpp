#include "tests/devices/PrivateSoundServer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <thread>

#include "tests/devices/ChildProcesses.h"

namespace {

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

// "pactl" and the words of a command, as a program's arguments.
std::vector<std::string> PactlWords(const std::string& sCommand) {
    std::vector<std::string> words{"pactl"};
    std::istringstream in(sCommand);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::vector<const char*> Argv(const std::vector<std::string>& words) {
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr);
    return argv;
}

std::string PactlOutput(const std::string& sCommand) {
    const std::vector<std::string> words = PactlWords(sCommand);
    return RunForOutput(Argv(words).data());
}

} // namespace

CPrivateSoundServer::CPrivateSoundServer(const char* pszPrefix) {
    std::string templ = std::string("/tmp/") + pszPrefix + ".XXXXXX";
    if (!mkdtemp(templ.data()))
        return;
    m_sDir = templ;
    for (const char* pszFolder : {"home", "config", "state", "pulse"})
        std::filesystem::create_directory(Path(pszFolder));
    std::filesystem::permissions(Path("pulse"), std::filesystem::perms::owner_all);
    std::ofstream(Path("client.conf")) << "autospawn = no\n";
    PointEnvironmentHere();
}

CPrivateSoundServer::~CPrivateSoundServer() {
    StopTones();
    Stop();
    if (HasFolder()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_sDir, ignored);
    }
}

// Every variable through which a server, its session manager or a client
// could find the machine's own folders, server or bus, or an earlier test's.
void CPrivateSoundServer::PointEnvironmentHere() const {
    SetEnv("HOME", Path("home"));
    SetEnv("XDG_RUNTIME_DIR", m_sDir);
    SetEnv("XDG_CONFIG_HOME", Path("config"));
    SetEnv("XDG_STATE_HOME", Path("state"));
    SetEnv("XDG_DATA_HOME", Path("home/.local/share"));
    SetEnv("XDG_CACHE_HOME", Path("home/.cache"));
    SetEnv("PULSE_RUNTIME_PATH", Path("pulse"));
    SetEnv("PULSE_STATE_PATH", Path("state"));
    SetEnv("PULSE_SERVER", "unix:" + Socket());
    SetEnv("PULSE_CLIENTCONFIG", Path("client.conf"));
    SetEnv("PIPEWIRE_RUNTIME_DIR", m_sDir);
    unsetenv("PIPEWIRE_REMOTE");
    // A bus that does not exist, so that nothing tries to start one; a server
    // that needs a bus starts its own.
    SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + Path("no-bus"));
}

std::string CPrivateSoundServer::Log() const {
    std::vector<std::filesystem::path> logs;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(m_sDir, ignored))
        if (entry.path().extension() == ".log")
            logs.push_back(entry.path());
    std::sort(logs.begin(), logs.end());
    std::ostringstream text;
    text << m_sFailure;
    for (const std::filesystem::path& log : logs) {
        std::ifstream in(log);
        text << "--- " << log.filename().string() << "\n"
             << std::string(std::istreambuf_iterator<char>(in), {});
    }
    return text.str();
}

void CPrivateSoundServer::NoteFailure(const std::string& sWhat) {
    m_sFailure += sWhat + "\n";
}

bool CPrivateSoundServer::Start(uint32_t nTimeoutMs) {
    if (!HasFolder() || IsRunning())
        return IsRunning();
    m_sFailure.clear();
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    if (!StartSession(deadline))
        return false;
    m_nPid = SpawnServer();
    if (m_nPid < 0) {
        NoteFailure("The server could not be started.");
        return false;
    }
    if (AwaitAnswer(deadline) && Furnish(deadline) && AwaitTopology(deadline))
        return true;
    Stop(SIGKILL);
    return false;
}

bool CPrivateSoundServer::AwaitAnswer(Clock::time_point deadline) {
    const char* info[] = {"pactl", "info", nullptr};
    while (Clock::now() < deadline) {
        if (RunQuietly(info) == 0)
            return true;
        if (WaitForExit(m_nPid, 0)) {
            m_nPid = -1;
            NoteFailure("The server ended before it answered.");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    NoteFailure("The server did not answer `pactl info` in time.");
    return false;
}

bool CPrivateSoundServer::AwaitTopology(Clock::time_point deadline) {
    // A session manager may settle the defaults a little after being told them.
    for (;;) {
        const std::string problem = TopologyProblem();
        if (problem.empty())
            return true;
        if (Clock::now() > deadline) {
            NoteFailure(problem);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string CPrivateSoundServer::TopologyProblem() const {
    const std::string sink = PactlOutput("get-default-sink");
    const std::string source = PactlOutput("get-default-source");
    if (sink != std::string(kSink) + "\n" || source != std::string(kMic) + "\n")
        return "The defaults are " + sink + " and " + source + ".";
    const std::string sources = PactlOutput("list short sources");
    for (const std::string& name :
         {std::string(kSink) + ".monitor", std::string(kOtherSink) + ".monitor", std::string(kMic)})
        if (sources.find("\t" + name + "\t") == std::string::npos)
            return "The source " + name + " is missing:\n" + sources;
    return "";
}

std::vector<std::string> CPrivateSoundServer::TopologyCommands() {
    const std::string sink = kSink;
    const std::string other = kOtherSink;
    const std::string mic = kMic;
    return {
        "load-module module-null-sink sink_name=" + sink +
            " sink_properties=device.description=" + kSinkDescription,
        "load-module module-null-sink sink_name=" + other +
            " sink_properties=device.description=" + kOtherSinkDescription,
        "load-module module-remap-source source_name=" + mic + " master=" + sink +
            ".monitor source_properties=device.description=" + kMicDescription,
        "set-default-sink " + sink,
        "set-default-source " + mic,
    };
}

int CPrivateSoundServer::Pactl(const std::string& sCommand) {
    const std::vector<std::string> words = PactlWords(sCommand);
    return RunQuietly(Argv(words).data());
}

void CPrivateSoundServer::Stop(int nSignal) {
    EndChild(m_nPid, nSignal);
    m_nPid = -1;
}

void CPrivateSoundServer::Pause() {
    if (IsRunning())
        kill(m_nPid, SIGSTOP);
}

void CPrivateSoundServer::Resume() {
    if (IsRunning())
        kill(m_nPid, SIGCONT);
}

int CPrivateSoundServer::LoadModule(const std::string& sNameAndArguments) {
    const std::string output = PactlOutput("load-module " + sNameAndArguments);
    return output.empty() ? -1 : std::atoi(output.c_str());
}

bool CPrivateSoundServer::UnloadModule(int nIndex) {
    return Pactl("unload-module " + std::to_string(nIndex)) == 0;
}

bool CPrivateSoundServer::PlayTone(const char* pszSink, double dLeftHz, double dRightHz) {
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

void CPrivateSoundServer::StopTones() {
    for (int i = 0; i < kPlayers; ++i)
        StopPlayer(i);
}

void CPrivateSoundServer::StopPlayer(int nIndex) {
    EndChild(m_aPlayers[nIndex], SIGKILL);
    m_aPlayers[nIndex] = -1;
}
