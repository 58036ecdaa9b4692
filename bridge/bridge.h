// orvante-bridge's core: one module on its port, one MQTT connection, and between them a
// queue that takes the commands from MQTT to the module one at a time, in arrival order.
//
// Threads: libmosquitto's (messages in, connects), the module's worker (opens the port,
// runs each request and publishes its result; while the port is missing or lost it tries
// it again every 2 s), and the session's monitor.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "bridge/ac_state.h"
#include "bridge/bridge_config.h"
#include "bridge/mqtt_client.h"
#include "functions/timed_tasks.h"
#include "session/session.h"

namespace orvante::bridge {

class Bridge {
public:
    // `trace` gets each request and reply and each MQTT message with -v (may be empty).
    Bridge(BridgeConfig config, std::function<void(const std::string&)> trace);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Starts the MQTT connection and the module's worker; false with *error when the MQTT
    // settings are refused.
    bool Start(std::string* error);
    // Publishes "offline", disconnects, ends the worker and closes the port.
    void Stop();

private:
    struct Request {
        enum class Kind { kTransmit, kLearn, kAc, kTasks };
        explicit Request(Kind k, int s = 0) : kind(k), slot(s) {}
        Kind kind;
        int slot = 0;
        std::string acId;
        AcState acState;
        functions::TimedTasks tasks{};
    };

    // libmosquitto's thread.
    void OnConnected();
    void OnMessage(const std::string& topic, const std::string& payload, bool retained);
    void OnCommand(const std::string& leaf, const std::string& payload);
    void OnAcCommand(const std::string& id, const std::string& field, const std::string& payload);
    void OnDiscoveryConfigSeen(const std::string& topic, const std::string& payload);
    void ClearStaleConfigs();

    // Queues a request, or answers it at once while the module is offline.
    void Enqueue(Request request);
    void AnswerOffline(const Request& request);
    void PublishResult(const Request& request, bool ok, const std::string& error, int pulses = 0);

    // The module's worker.
    void RunModule();
    bool OpenModule();
    void GoOffline();
    void Execute(const Request& request);
    void Transmit(const Request& request);
    void Learn(const Request& request);
    void SendAc(const Request& request);
    void WriteTasks(const Request& request);
    std::optional<functions::TimedTasks> ReadAndPublishTasks(std::string* error);

    void PublishAvailability();
    void PublishDiscovery();
    void Publish(const std::string& leaf, const std::string& payload, int qos, bool retain);
    void Trace(const std::string& line);

    BridgeConfig config_;
    std::function<void(const std::string&)> trace_;
    std::unique_ptr<MqttClient> mqtt_;

    std::mutex mutex_;  //!< Protects everything below
    std::condition_variable changed_;
    std::deque<Request> queue_;
    bool online_ = false;  // the module answered and its port is not lost
    bool lost_ = false;    // the port was lost: the worker goes offline
    bool stopping_ = false;
    std::string address_;  // the module's, once it answered: discovery's id
    std::map<std::string, AcState> acStates_;
    std::set<std::string> ownConfigs_;   // discovery topics published for this configuration
    std::set<std::string> seenConfigs_;  // discovery topics the broker holds a config on
    std::map<std::string, std::string> retained_;  // leaf -> the state last published

    std::unique_ptr<session::Session> session_;  // the worker's; replaced on each open
    std::thread worker_;
};

}  // namespace orvante::bridge
