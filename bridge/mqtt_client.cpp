#include "bridge/mqtt_client.h"

#include <mosquitto.h>

#include <mutex>

namespace orvante::bridge {

namespace {

// libmosquitto is set up once a process, and never taken down before its end.
void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

constexpr const char* kOffline = "offline";

}  // namespace

MqttClient::MqttClient(MqttOptions options, MqttHandlers handlers)
    : options_(std::move(options)), handlers_(std::move(handlers)) {
    InitOnce();
    client_ = mosquitto_new(options_.clientId.c_str(), true, this);
}

MqttClient::~MqttClient() {
    Stop({}, {});
    if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttClient::Start(std::string* error) {
    if (client_ == nullptr) {
        *error = "cannot make an MQTT client";
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, OnConnect);
    mosquitto_message_callback_set(client_, OnMessage);
    mosquitto_reconnect_delay_set(client_, 1, 60, true);
    int result = mosquitto_will_set(client_, options_.willTopic.c_str(),
                                    static_cast<int>(std::char_traits<char>::length(kOffline)),
                                    kOffline, 1, true);
    if (result == MOSQ_ERR_SUCCESS && !options_.username.empty()) {
        result = mosquitto_username_pw_set(
            client_, options_.username.c_str(),
            options_.password.empty() ? nullptr : options_.password.c_str());
    }
    if (result == MOSQ_ERR_SUCCESS && options_.tls) {
        // No CA file: the system's certificates.
        result = options_.caFile ? mosquitto_tls_set(client_, options_.caFile->c_str(), nullptr,
                                                     nullptr, nullptr, nullptr)
                                 : mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    }
    if (result != MOSQ_ERR_SUCCESS) {
        *error = std::string("MQTT settings refused: ") + mosquitto_strerror(result);
        return false;
    }
    // libmosquitto's thread-safe mode: a publish from another thread wakes the loop.
    mosquitto_threaded_set(client_, true);
    // A first connect that fails is tried again by the network thread.
    mosquitto_connect_async(client_, options_.host.c_str(), options_.port,
                            options_.keepAliveSeconds);
    network_ = std::thread([this] { RunNetwork(); });
    return true;
}

// libmosquitto's loop reconnects by itself after a lost connection; it returns on a
// disconnect asked for, or on an error it takes for fatal: then the connect is tried
// again here, after the same growing delay.
void MqttClient::RunNetwork() {
    // libmosquitto's loop shortens its wait to the keep-alive's next ping by itself: a
    // long one costs no ping, and an idle bridge wakes once a keep-alive.
    constexpr int kWakeMs = 3'600'000;
    int delaySeconds = 1;
    for (;;) {
        mosquitto_loop_forever(client_, kWakeMs, 1);
        std::unique_lock lock(mutex_);
        if (stop_.wait_for(lock, std::chrono::seconds(delaySeconds), [&] { return stopping_; })) {
            return;
        }
        lock.unlock();
        delaySeconds = std::min(delaySeconds * 2, 60);
        if (handlers_.trace) handlers_.trace("mqtt connecting again");
        mosquitto_reconnect_async(client_);
    }
}

void MqttClient::Publish(const std::string& topic, const std::string& payload, int qos,
                         bool retain) {
    if (handlers_.trace) {
        handlers_.trace("mqtt out " + topic + (retain ? " (retained) " : " ") + payload);
    }
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), qos, retain);
}

void MqttClient::Subscribe(const std::string& topic, int qos) {
    mosquitto_subscribe(client_, nullptr, topic.c_str(), qos);
}

void MqttClient::Stop(const std::string& finalTopic, const std::string& finalPayload) {
    if (!network_.joinable()) return;
    if (!finalTopic.empty()) Publish(finalTopic, finalPayload, 1, true);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    // The loop returns once the disconnect has gone out.
    mosquitto_disconnect(client_);
    network_.join();
}

void MqttClient::OnConnect(mosquitto*, void* self, int result) {
    auto& client = *static_cast<MqttClient*>(self);
    if (result != 0) return;  // libmosquitto tries again
    if (client.handlers_.trace) client.handlers_.trace("mqtt connected");
    if (client.handlers_.connected) client.handlers_.connected();
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto& client = *static_cast<MqttClient*>(self);
    const std::string topic = message->topic != nullptr ? message->topic : "";
    const std::string payload(static_cast<const char*>(message->payload),
                              static_cast<std::size_t>(message->payloadlen));
    if (client.handlers_.trace) {
        client.handlers_.trace("mqtt in " + topic + (message->retain ? " (retained) " : " ") +
                               payload);
    }
    if (client.handlers_.message) client.handlers_.message(topic, payload, message->retain);
}

}  // namespace orvante::bridge
