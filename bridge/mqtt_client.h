// The bridge's MQTT connection on libmosquitto: MQTT 3.1.1, a clean session, a last will,
// and a network thread that connects in the background (a broker that is down at start is
// tried again) and reconnects after 1 s, then 2, 4, ... up to 60 s. The thread is ours
// around libmosquitto's loop rather than libmosquitto's own, whose loop ends for good on
// a TLS or protocol error (a first TLS handshake can fail so) and then never reconnects;
// ours starts it again after the same delays. It wakes only for the network, for a
// publish from another thread, and for the keep-alive's ping.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace orvante::bridge {

struct MqttOptions {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::optional<std::string> caFile;  // with tls: nothing takes the system's certificates
    std::string username;
    std::string password;
    std::string clientId;
    std::string willTopic;  // "offline", retained, QoS 1
    int keepAliveSeconds = 60;
};

struct MqttHandlers {
    // On libmosquitto's thread, after every successful connect.
    std::function<void()> connected;
    std::function<void(const std::string& topic, const std::string& payload, bool retained)>
        message;
    // Every message in and out, for -v (never the password, which no message carries).
    std::function<void(const std::string& line)> trace;
};

class MqttClient {
public:
    MqttClient(MqttOptions options, MqttHandlers handlers);
    ~MqttClient();  // Stop, if not stopped
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts the thread and the first connect; false with *error when libmosquitto
    // refuses the settings (a TLS file it cannot read, for one).
    bool Start(std::string* error);
    // Any thread.
    void Publish(const std::string& topic, const std::string& payload, int qos, bool retain);
    void Subscribe(const std::string& topic, int qos);
    // Publishes `finalTopic`/`finalPayload` (retained), disconnects and ends the thread.
    void Stop(const std::string& finalTopic, const std::string& finalPayload);

private:
    static void OnConnect(mosquitto*, void* self, int result);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    void RunNetwork();

    MqttOptions options_;
    MqttHandlers handlers_;
    mosquitto* client_ = nullptr;
    std::thread network_;
    std::mutex mutex_;  //!< Protects stopping_
    std::condition_variable stop_;
    bool stopping_ = false;
};

}  // namespace orvante::bridge
