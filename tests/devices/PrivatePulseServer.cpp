#include "tests/devices/PrivatePulseServer.h"

#include <fstream>

#include "tests/devices/ChildProcesses.h"

CPrivatePulseServer::CPrivatePulseServer() : CPrivateSoundServer("vpa") {
    if (HasFolder())
        WriteConfig();
}

void CPrivatePulseServer::WriteConfig() const {
    std::ofstream pa(Path("server.pa"));
    pa << "load-module module-native-protocol-unix socket=" << Socket() << " auth-anonymous=1\n";
    for (const std::string& command : TopologyCommands())
        pa << command << "\n";
    pa << "load-module module-null-sink sink_name=vemra_busy"
       << " sink_properties=device.description=Vemra-Busy-Output\n"
       << "load-module module-loopback source=" << kSink << ".monitor sink=vemra_busy\n"
       << "load-module module-loopback source=" << kOtherSink
       << ".monitor sink=vemra_busy\n"
       // A null sink plans its first block before anyone asks for a short one
       // and sleeps it out: two seconds. Waking it now starts its next block at
       // the loopbacks' latency, so a new recorder gets data at once.
       << "suspend-sink " << kSink << " 1\n"
       << "suspend-sink " << kSink << " 0\n"
       << "suspend-sink " << kOtherSink << " 1\n"
       << "suspend-sink " << kOtherSink << " 0\n";
}

pid_t CPrivatePulseServer::SpawnServer() {
    const std::string config = Path("server.pa");
    const std::string logTarget = "--log-target=file:" + Path("pulseaudio.log");
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
    return SpawnQuietly(argv);
}
