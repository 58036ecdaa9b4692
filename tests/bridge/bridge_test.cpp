// orvante-bridge as a process between a real broker (mosquitto) and the virtual module on
// a pseudo-terminal: commands to frames and results, discovery, the last will, a lost
// module, a broker down at start and restarted, TLS.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/bridge/broker.h"
#include "tests/support/child_process.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/temp_dir.h"

namespace orvante::test {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

constexpr const char* kTopic = "orvante/room/";

// orvante-sim on COM<port>, with --verbose: the frames it receives can be read.
class Module {
public:
    explicit Module(int port, Args options = {}) {
        options.insert(options.end(),
                       {"--port", std::to_string(port), "--verbose", "--learn-delay", "50"});
        process_ = std::make_unique<ChildProcess>(ORVANTE_SIM_PROGRAM, options);
        ready_ = process_->Out().ReadLine().starts_with("orvante-sim: COM");
    }
    ~Module() { Stop(); }
    bool Ready() const { return ready_; }
    void Stop() {
        if (!process_) return;
        process_->Signal(SIGTERM);
        process_->WaitForExit();
        process_.reset();
    }
    // The command byte of the next frame it received ("12" for a learn), or "" if none
    // came within the time.
    std::string NextCommand(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string line = process_->Err().ReadLine(500ms);
            const std::string rx = "orvante-sim: rx ";
            if (line.starts_with(rx) && line.size() >= rx.size() + 23) {
                return line.substr(rx.size() + 21, 2);  // "7E LL 00 SS SS DD DD CC"
            }
        }
        return {};
    }

private:
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
};

class BridgeProcess {
public:
    BridgeProcess(const std::string& config) : process_(ORVANTE_BRIDGE_PROGRAM, {config}) {}
    ~BridgeProcess() {
        process_.Signal(SIGKILL);
        process_.WaitForExit();
    }
    ChildProcess& Process() { return process_; }

private:
    ChildProcess process_;
};

std::string WriteConfig(const TempDir& dir, const std::string& name, json config) {
    const std::string path = dir.File(name);
    std::ofstream(path) << config.dump();
    return path;
}

json Config(int brokerPort, int modulePort) {
    return {{"port", "COM" + std::to_string(modulePort)},
            {"broker", "mqtt://127.0.0.1:" + std::to_string(brokerPort)},
            {"name", "room"},
            {"learn_timeout", 5},
            {"slots", {{"5", "TV power"}, {"6", "TV volume up"}}},
            {"air_conditioners",
             {{"bedroom", 258}, {"study", {{"brand", 258}, {"name", "书房空调"}}}}}};
}

// Whether the message came with `payload`: for JSON the same value, whatever its order.
bool IsPayload(const std::optional<Message>& message, const std::string& payload) {
    if (!message) return false;
    const json got = json::parse(message->payload, nullptr, false);
    const json wanted = json::parse(payload, nullptr, false);
    if (!got.is_discarded() && !wanted.is_discarded()) return got == wanted;
    return message->payload == payload;
}

// Whether `topic` brings `payload` (another payload before it does not count).
bool Brings(Listener& listener, const std::string& topic, const std::string& payload,
            std::chrono::milliseconds timeout, std::size_t from = 0) {
    return listener
        .WaitFor([&](const Message& m) { return m.topic == topic && m.payload == payload; },
                 timeout, from)
        .has_value();
}

class BridgeTest : public ::testing::Test {
protected:
    PrivateRuntimeDir runtime_;
    TempDir files_;
    Broker broker_;
};

// What each command makes the module see (its command byte, or nothing) and what the
// bridge answers; one at a time, in order.
TEST_F(BridgeTest, CarriesCommandsToTheModuleAndAnswersThem) {
    ASSERT_TRUE(broker_.Ready());
    Module module(180);
    ASSERT_TRUE(module.Ready());
    Listener listener(broker_.Port());
    BridgeProcess bridge(WriteConfig(files_, "b.json", Config(broker_.Port(), 180)));
    ASSERT_TRUE(IsPayload(
        listener.WaitForTopic(std::string(kTopic) + "tasks"),
        json{{"tasks",
              json::array(
                  {{{"enabled", false}, {"slot", 0}, {"period", 0}, {"delay", 0}, {"loops", 0}},
                   {{"enabled", false}, {"slot", 0}, {"period", 0}, {"delay", 0}, {"loops", 0}},
                   {{"enabled", false}, {"slot", 0}, {"period", 0}, {"delay", 0}, {"loops", 0}}})}}
            .dump()));
    EXPECT_EQ(module.NextCommand(), "01");  // the handshake
    EXPECT_EQ(module.NextCommand(), "16");  // the tasks read

    const std::string tasks =
        R"({"tasks":[{"enabled":true,"slot":5,"period":10,"delay":2,"loops":0},)"
        R"({"enabled":false,"slot":0,"period":0,"delay":0,"loops":0},)"
        R"({"enabled":false,"slot":0,"period":0,"delay":0,"loops":0}]})";
    const struct {
        std::string leaf, payload;
        std::string frame;  // the command bytes the module sees, in order; empty: none
        std::string resultLeaf, result;
    } kRows[] = {
        {"learn", "5", "12", "learn/result", R"({"slot":5,"pulses":67})"},
        {"slot/5/send", "x", "14", "slot/5/result", R"({"slot":5,"sent":true})"},
        {"slot/9/send", "", "14", "slot/9/result",
         R"({"slot":9,"sent":false,"error":"the module could not transmit it"})"},
        {"slot/101/send", "", "", "", ""},
        {"learn", "five", "", "learn/result",
         R"({"slot":"five","error":"not a slot from 0 to 100"})"},
        {"ac/bedroom/set/mode", "cool", "1A", "ac/bedroom/state",
         R"({"power":"on","mode":"cool","temperature":16,"fan":"auto","swing":"vertical","sent":true})"},
        {"ac/bedroom/set/temperature", "24.5", "", "", ""},
        {"ac/bedroom/set", R"({"temperature":24.0,"fan":"3","mode":"fan_only"})", "1A",
         "ac/bedroom/state",
         R"({"power":"on","mode":"fan_only","temperature":24,"fan":"3","swing":"vertical","sent":true})"},
        {"ac/bedroom/set/mode", "off", "1A", "ac/bedroom/state",
         R"({"power":"off","mode":"fan_only","temperature":24,"fan":"3","swing":"vertical","sent":true})"},
        {"ac/nowhere/set/mode", "cool", "", "", ""},
        {"tasks/set", "[]", "", "tasks/result",
         R"({"written":false,"error":"expected {\"tasks\": [...]} with exactly 3 tasks"})"},
        {"tasks/set", tasks, "18 16", "tasks/result", R"({"written":true})"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.leaf + " " + row.payload);
        const std::size_t from = listener.Count();
        listener.Publish(kTopic + row.leaf, row.payload);
        std::string seen;
        for (std::size_t n = 0; n < (row.frame.size() + 1) / 3; ++n) {
            seen += (n > 0 ? " " : "") + module.NextCommand();
        }
        EXPECT_EQ(seen, row.frame);
        if (!row.resultLeaf.empty()) {
            EXPECT_TRUE(
                IsPayload(listener.WaitForTopic(kTopic + row.resultLeaf, 10s, from), row.result));
        }
    }
    // A command that arrives retained is an old one: it is not carried out.
    listener.Publish(std::string(kTopic) + "slot/5/send", "x", true);
    listener.Publish(std::string(kTopic) + "slot/6/send", "x");
    EXPECT_EQ(module.NextCommand(), "14");
    EXPECT_TRUE(listener.WaitForTopic(std::string(kTopic) + "slot/6/result"));
    EXPECT_FALSE(
        listener.WaitForTopic(std::string(kTopic) + "slot/5/result", 300ms, listener.Count() - 1));
}

TEST_F(BridgeTest, TellsHomeAssistantItsEntitiesAndClearsThoseGone) {
    ASSERT_TRUE(broker_.Ready());
    Module module(181);
    ASSERT_TRUE(module.Ready());
    Listener listener(broker_.Port());
    {
        BridgeProcess bridge(WriteConfig(files_, "b.json", Config(broker_.Port(), 181)));
        ASSERT_TRUE(listener.WaitForTopic("homeassistant/button/orvante_1234_slot5/config"));
        // Retained: a Home Assistant that subscribes later finds it.
        Listener late(broker_.Port());
        const auto button = late.WaitForTopic("homeassistant/button/orvante_1234_slot5/config");
        ASSERT_TRUE(button && button->retained);
        const json slot = json::parse(button->payload);
        EXPECT_EQ(slot["name"], "TV power");
        EXPECT_EQ(slot["command_topic"], "orvante/room/slot/5/send");
        EXPECT_EQ(slot["availability_topic"], "orvante/room/availability");
        EXPECT_EQ(slot["unique_id"], "orvante_1234_slot5");
        EXPECT_EQ(slot["device"]["identifiers"], json::array({"orvante_1234"}));
        EXPECT_EQ(slot["device"]["manufacturer"], "Orvante");

        const auto climate =
            listener.WaitForTopic("homeassistant/climate/orvante_1234_ac_study/config");
        ASSERT_TRUE(climate);
        const json ac = json::parse(climate->payload);
        EXPECT_EQ(ac["name"], "书房空调");
        EXPECT_EQ(ac["modes"], json::array({"off", "auto", "cool", "heat", "fan_only", "dry"}));
        EXPECT_EQ(ac["fan_modes"], json::array({"auto", "1", "2", "3", "4", "5"}));
        EXPECT_EQ(ac["swing_modes"], json::array({"vertical", "horizontal", "off"}));
        EXPECT_EQ(ac["min_temp"], 16);
        EXPECT_EQ(ac["max_temp"], 30);
        EXPECT_EQ(ac["temp_step"], 1);
        EXPECT_EQ(ac["temperature_unit"], "C");
        EXPECT_EQ(ac["optimistic"], false);
        for (const char* kind : {"mode", "temperature", "fan_mode", "swing_mode"}) {
            EXPECT_TRUE(ac.contains(std::string(kind) + "_command_topic")) << kind;
            EXPECT_EQ(ac[std::string(kind) + "_state_topic"], "orvante/room/ac/study/state");
            EXPECT_TRUE(ac.contains(std::string(kind) + "_state_template")) << kind;
        }
        // Home Assistant's own restart asks for the configs again.
        const std::size_t from = listener.Count();
        listener.Publish("homeassistant/status", "online");
        EXPECT_TRUE(
            listener.WaitForTopic("homeassistant/button/orvante_1234_slot6/config", 10s, from));
        bridge.Process().Signal(SIGTERM);
        EXPECT_EQ(bridge.Process().WaitForExit(), 0);
        EXPECT_TRUE(Brings(listener, "orvante/room/availability", "offline", 5s, from));
    }
    // Slot 6 is gone from the configuration: its config is cleared.
    json fewer = Config(broker_.Port(), 181);
    fewer["slots"] = {{"5", "TV power"}};
    const std::size_t from = listener.Count();
    BridgeProcess bridge(WriteConfig(files_, "fewer.json", fewer));
    EXPECT_TRUE(listener.WaitFor(
        [](const Message& m) {
            return m.topic == "homeassistant/button/orvante_1234_slot6/config" && m.payload.empty();
        },
        10s, from));
}

// The module pulled and put back, the broker down at start and restarted, the bridge
// killed: availability says so each time, and the bridge works again on its own.
TEST_F(BridgeTest, RidesOutALostModuleAndABrokerThatComesLate) {
    const int brokerPort = Broker::FreePort();
    auto module = std::make_unique<Module>(182);
    ASSERT_TRUE(module->Ready());
    BridgeProcess bridge(WriteConfig(files_, "b.json", Config(brokerPort, 182)));
    std::this_thread::sleep_for(1500ms);  // the bridge tries a broker that is not there
    auto broker = std::make_unique<Broker>(brokerPort);
    ASSERT_TRUE(broker->Ready());
    auto listener = std::make_unique<Listener>(brokerPort);
    ASSERT_TRUE(Brings(*listener, "orvante/room/availability", "online", 10s));

    std::size_t from = listener->Count();
    module->Stop();  // pulled: its port goes away
    EXPECT_TRUE(Brings(*listener, "orvante/room/availability", "offline", 10s, from));
    from = listener->Count();
    listener->Publish("orvante/room/slot/5/send", "x");
    EXPECT_TRUE(IsPayload(listener->WaitForTopic("orvante/room/slot/5/result", 5s, from),
                          R"({"slot":5,"sent":false,"error":"module offline"})"));
    module = std::make_unique<Module>(182);  // put back
    ASSERT_TRUE(module->Ready());
    EXPECT_TRUE(Brings(*listener, "orvante/room/availability", "online", 10s, from));

    // The broker restarts with nothing kept: the bridge connects again, subscribes again
    // and publishes its state again.
    listener.reset();
    broker->Kill();
    broker = std::make_unique<Broker>(brokerPort);
    ASSERT_TRUE(broker->Ready());
    listener = std::make_unique<Listener>(brokerPort);
    ASSERT_TRUE(Brings(*listener, "orvante/room/availability", "online", 20s));
    from = listener->Count();
    listener->Publish("orvante/room/slot/5/send", "x");
    EXPECT_TRUE(listener->WaitForTopic("orvante/room/slot/5/result", 10s, from));

    // Killed: the broker publishes the last will.
    from = listener->Count();
    bridge.Process().Signal(SIGKILL);
    EXPECT_TRUE(Brings(*listener, "orvante/room/availability", "offline", 10s, from));
}

TEST_F(BridgeTest, ConnectsOverTlsToABrokerWithItsCertificate) {
    TempDir tls;
    ASSERT_TRUE(Broker::MakeLocalhostCertificate(tls.File("").substr(0, tls.File("").size() - 1)));
    Broker broker(0, tls.File("").substr(0, tls.File("").size() - 1));
    ASSERT_TRUE(broker.Ready());
    Module module(183);
    ASSERT_TRUE(module.Ready());
    Listener listener(broker.Port());
    json config = Config(broker.Port(), 183);
    config["broker"] = "mqtts://localhost:" + std::to_string(broker.TlsPort());
    config["ca_file"] = tls.File("server.crt");
    BridgeProcess bridge(WriteConfig(files_, "tls.json", config));
    EXPECT_TRUE(Brings(listener, "orvante/room/availability", "online", 10s));
}

TEST(BridgeProgram, RefusesABadConfigurationWithOneLine) {
    TempDir files;
    const struct {
        json config;
        std::string error;
    } kRows[] = {
        {json::object(), "\"port\": is missing"},
        {{{"port", "COM1"}, {"name", "x"}}, "\"broker\": is missing"},
        {{{"port", "COM1"}, {"broker", "tcp://h"}, {"name", "x"}}, "\"broker\": must be mqtt://"},
        {{{"port", "COM1"}, {"broker", "mqtt://h:99999"}, {"name", "x"}}, "\"broker\""},
        {{{"port", "COM1"}, {"broker", "mqtt://h"}, {"name", "living room"}},
         "\"name\": must be letters"},
        {{{"port", "COM1"}, {"broker", "mqtt://h"}, {"name", "x"}, {"baud", 1000}}, "\"baud\""},
        {{{"port", "COM1"}, {"broker", "mqtt://h"}, {"name", "x"}, {"slots", {{"101", "a"}}}},
         "\"slots\": '101' is not a slot"},
        {{{"port", "COM1"},
          {"broker", "mqtt://h"},
          {"name", "x"},
          {"air_conditioners", {{"a b", 1}}}},
         "\"air_conditioners.a b\""},
        {{{"port", "COM1"},
          {"broker", "mqtt://h"},
          {"name", "x"},
          {"air_conditioners", {{"ac", 70000}}}},
         "\"air_conditioners.ac\": must be a whole number from 0 to 65535"},
        {{{"port", "COM1"},
          {"broker", "mqtt://h"},
          {"name", "x"},
          {"password_file", "/nonexistent"}},
         "\"password_file\": cannot read"},
        {{{"port", "COM1"}, {"broker", "mqtt://h"}, {"name", "x"}, {"colour", "red"}},
         "\"colour\": is not a key"},
    };
    for (const auto& row : kRows) {
        std::ofstream(files.File("c.json"), std::ios::trunc) << row.config.dump();
        ChildProcess bridge(ORVANTE_BRIDGE_PROGRAM, {files.File("c.json")});
        const std::string err = bridge.Err().ReadAll();
        EXPECT_EQ(bridge.WaitForExit(), 2) << row.config;
        EXPECT_NE(err.find(row.error), std::string::npos) << row.config << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

}  // namespace
}  // namespace orvante::test
