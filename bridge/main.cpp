// orvante-bridge: one infrared module on an MQTT broker, with Home Assistant discovery.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/bridge.h"
#include "bridge/bridge_config.h"
#include "platform/local_time.h"
#include "platform/thread_failure.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: orvante-bridge [-v] CONFIG\n"
    "\n"
    "Holds one infrared module on its serial port and offers it on an MQTT broker:\n"
    "its named slots as buttons and its air conditioners as climate entities for Home\n"
    "Assistant (MQTT discovery), commands on topics under <base_topic>/<name>/, and\n"
    "its availability with a last will. CONFIG is a JSON file; see\n"
    "/usr/share/doc/orvante/examples/bridge.json and the README's \"Home automation\".\n"
    "\n"
    "Options:\n"
    "  -v, --verbose  every request and reply, and every MQTT message, on standard\n"
    "                 error\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Ends on SIGINT or SIGTERM, after publishing \"offline\". Exit status: 0 after a\n"
    "signal, 1 when it cannot start, 2 for a bad command line or configuration.\n";

void Say(const std::string& line) {
    std::fprintf(stderr, "orvante-bridge: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    orvante::platform::SetProgramName("orvante-bridge");
    bool verbose = false;
    std::string configPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("orvante-bridge " ORVANTE_VERSION);
            return 0;
        }
        if (arg == "-v" || arg == "--verbose") {
            verbose = true;
        } else if (arg.starts_with("-") || !configPath.empty()) {
            Say("unexpected argument '" + arg + "' (see orvante-bridge --help)");
            return kExitUsage;
        } else {
            configPath = arg;
        }
    }
    if (configPath.empty()) {
        Say("no configuration given (see orvante-bridge --help)");
        return kExitUsage;
    }
    orvante::bridge::BridgeConfig config;
    std::string error;
    if (!orvante::bridge::LoadBridgeConfig(configPath, &config, &error)) {
        Say(error);
        return kExitUsage;
    }
    // The end signals are waited for here; every thread made after this inherits them
    // blocked, so none of them is interrupted by one.
    sigset_t ends;
    sigemptyset(&ends);
    sigaddset(&ends, SIGINT);
    sigaddset(&ends, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::function<void(const std::string&)> trace;
    if (verbose)
        trace = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    orvante::bridge::Bridge bridge(config, trace);
    if (!bridge.Start(&error)) {
        Say(error);
        return kExitFailure;
    }
    int signal = 0;
    sigwait(&ends, &signal);
    bridge.Stop();
    return 0;
}
