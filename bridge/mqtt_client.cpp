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
    if (started_) {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, true);
    }
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
    // The thread first: a connect that fails now is tried again by it.
    if ((result = mosquitto_loop_start(client_)) != MOSQ_ERR_SUCCESS) {
        *error = std::string("cannot start the MQTT thread: ") + mosquitto_strerror(result);
        return false;
    }
    started_ = true;
    mosquitto_connect_async(client_, options_.host.c_str(), options_.port,
                            options_.keepAliveSeconds);
    return true;
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
    if (!started_) return;
    int sent = 0;
    Publish(finalTopic, finalPayload, 1, true);
    (void)sent;
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    started_ = false;
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
