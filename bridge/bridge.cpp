#include "bridge/bridge.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "bridge/discovery.h"
#include "functions/learn_transmit.h"
#include "functions/module_functions.h"
#include "functions/tasks_json.h"
#include "platform/thread_failure.h"
#include "protocol/commands.h"
#include "protocol/module_frame.h"
#include "protocol/replies.h"
#include "serial/port_list.h"

namespace orvante::bridge {

namespace {

using json = nlohmann::ordered_json;
using session::WaitEnd;
using namespace std::chrono_literals;

constexpr auto kRetryOpen = 2s;
constexpr const char* kOffline = "module offline";

std::optional<int> SlotOf(const std::string& text) {
    int slot = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), slot);
    if (ec != std::errc() || end != text.data() + text.size() ||
        !functions::kSlotRange.Contains(slot)) {
        return std::nullopt;
    }
    return slot;
}

std::string WaitError(WaitEnd end) {
    switch (end) {
        case WaitEnd::kAnswered:
            return {};
        case WaitEnd::kLost:
            return "module lost";
        case WaitEnd::kCancelled:
            return "bridge stopping";
        case WaitEnd::kTimedOut:
            break;
    }
    return "no answer from the module";
}

}  // namespace

Bridge::Bridge(BridgeConfig config, std::function<void(const std::string&)> trace)
    : config_(std::move(config)), trace_(std::move(trace)) {
    for (const AirConditioner& ac : config_.airConditioners) acStates_[ac.id] = AcState{};
}

Bridge::~Bridge() {
    Stop();
}

bool Bridge::Start(std::string* error) {
    MqttOptions options;
    options.host = config_.brokerHost;
    options.port = config_.brokerPort;
    options.tls = config_.tls;
    options.caFile = config_.caFile;
    options.username = config_.username;
    options.password = config_.password;
    options.clientId = "orvante-bridge-" + config_.name;
    options.willTopic = config_.Topic("availability");
    MqttHandlers handlers;
    handlers.connected = [this] { OnConnected(); };
    handlers.message = [this](const std::string& topic, const std::string& payload, bool retained) {
        OnMessage(topic, payload, retained);
    };
    if (trace_) handlers.trace = trace_;
    mqtt_ = std::make_unique<MqttClient>(std::move(options), std::move(handlers));
    worker_ =
        std::thread([this] { platform::RunGuarded("module worker", [this] { RunModule(); }); });
    return mqtt_->Start(error);
}

void Bridge::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !worker_.joinable()) return;
        stopping_ = true;
        if (session_) session_->Cancel();
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
    if (mqtt_) mqtt_->Stop(config_.Topic("availability"), "offline");
    session_.reset();
}

// ---- MQTT ----------------------------------------------------------------------------

void Bridge::OnConnected() {
    PublishAvailability();
    for (const char* leaf : {"slot/+/send", "learn", "ac/+/set", "ac/+/set/+", "tasks/set"}) {
        mqtt_->Subscribe(config_.Topic(leaf), 1);
    }
    if (config_.discovery) {
        mqtt_->Subscribe(config_.haStatusTopic, 1);
        // The configs retained on the broker come back: those of slots and air
        // conditioners this configuration no longer has are cleared.
        mqtt_->Subscribe(config_.discoveryPrefix + "/button/+/config", 1);
        mqtt_->Subscribe(config_.discoveryPrefix + "/climate/+/config", 1);
        PublishDiscovery();
    }
    // The states last published, again: a broker that restarted without them keeps them.
    std::map<std::string, std::string> retained;
    {
        std::lock_guard lock(mutex_);
        retained = retained_;
    }
    for (const auto& [leaf, payload] : retained)
        mqtt_->Publish(config_.Topic(leaf), payload, 1, true);
}

void Bridge::OnMessage(const std::string& topic, const std::string& payload, bool retained) {
    if (config_.discovery && topic == config_.haStatusTopic) {
        if (payload == "online") PublishDiscovery();
        return;
    }
    if (config_.discovery && topic.starts_with(config_.discoveryPrefix + "/")) {
        OnDiscoveryConfigSeen(topic, payload);
        return;
    }
    const std::string prefix = config_.Topic("");
    // A retained command is an old one: it is not carried out again.
    if (retained || !topic.starts_with(prefix)) return;
    OnCommand(topic.substr(prefix.size()), payload);
}

void Bridge::OnCommand(const std::string& leaf, const std::string& payload) {
    if (leaf.starts_with("slot/") && leaf.ends_with("/send")) {
        const std::optional<int> slot = SlotOf(leaf.substr(5, leaf.size() - 10));
        if (slot) Enqueue(Request(Request::Kind::kTransmit, *slot));
        return;
    }
    if (leaf == "learn") {
        const std::optional<int> slot = SlotOf(payload);
        if (!slot) {
            Publish("learn/result",
                    json{{"slot", payload}, {"error", "not a slot from 0 to 100"}}.dump(), 0,
                    false);
            return;
        }
        Enqueue(Request(Request::Kind::kLearn, *slot));
        return;
    }
    if (leaf == "tasks/set") {
        Request request(Request::Kind::kTasks);
        std::string error;
        if (!functions::TasksFromJson(payload, &request.tasks, &error)) {
            Publish("tasks/result", json{{"written", false}, {"error", error}}.dump(), 0, false);
            return;
        }
        Enqueue(request);
        return;
    }
    if (leaf.starts_with("ac/")) {
        const std::size_t idEnd = leaf.find('/', 3);
        if (idEnd == std::string::npos) return;
        const std::string id = leaf.substr(3, idEnd - 3);
        const std::string rest = leaf.substr(idEnd + 1);
        if (rest == "set") OnAcCommand(id, "", payload);
        if (rest.starts_with("set/")) OnAcCommand(id, rest.substr(4), payload);
    }
}

// A payload that cannot be understood sends nothing; there is no result topic to answer
// on, so it is logged.
void Bridge::OnAcCommand(const std::string& id, const std::string& field,
                         const std::string& payload) {
    if (config_.FindAirConditioner(id) == nullptr) return;
    Request request(Request::Kind::kAc);
    request.acId = id;
    {
        std::lock_guard lock(mutex_);
        request.acState = acStates_[id];
    }
    const std::string error = field.empty() ? ApplyAcJson(payload, &request.acState)
                                            : ApplyAcField(field, payload, &request.acState);
    if (!error.empty()) {
        std::fprintf(stderr, "orvante-bridge: ac/%s: %s\n", id.c_str(), error.c_str());
        return;
    }
    {
        std::lock_guard lock(mutex_);
        acStates_[id] = request.acState;
    }
    Enqueue(request);
}

// Configs on the broker: kept until the module's address is known (it may come later
// than they do), and those of this module that this configuration no longer has cleared.
void Bridge::OnDiscoveryConfigSeen(const std::string& topic, const std::string& payload) {
    if (topic.find("/orvante_") == std::string::npos) return;  // another program's
    {
        std::lock_guard lock(mutex_);
        if (payload.empty()) {
            seenConfigs_.erase(topic);
            return;
        }
        seenConfigs_.insert(topic);
    }
    ClearStaleConfigs();
}

void Bridge::ClearStaleConfigs() {
    std::vector<std::string> stale;
    {
        std::lock_guard lock(mutex_);
        if (address_.empty()) return;
        for (const std::string& topic : seenConfigs_) {
            if (!ownConfigs_.contains(topic) && IsOwnDiscoveryTopic(config_, address_, topic)) {
                stale.push_back(topic);
            }
        }
    }
    for (const std::string& topic : stale) mqtt_->Publish(topic, "", 1, true);
}

void Bridge::Publish(const std::string& leaf, const std::string& payload, int qos, bool retain) {
    if (retain && leaf != "availability") {
        std::lock_guard lock(mutex_);
        retained_[leaf] = payload;
    }
    if (mqtt_) mqtt_->Publish(config_.Topic(leaf), payload, qos, retain);
}

void Bridge::PublishAvailability() {
    bool online;
    {
        std::lock_guard lock(mutex_);
        online = online_;
    }
    Publish("availability", online ? "online" : "offline", 1, true);
}

void Bridge::PublishDiscovery() {
    std::string address;
    {
        std::lock_guard lock(mutex_);
        address = address_;
    }
    if (!config_.discovery || address.empty() || !mqtt_) return;
    const std::vector<DiscoveryConfig> configs = DiscoveryConfigs(config_, address);
    {
        // Known before they are published: the broker sends each back at once, and one
        // not known then would be taken for a stale one and cleared.
        std::lock_guard lock(mutex_);
        ownConfigs_.clear();
        for (const DiscoveryConfig& discovery : configs) ownConfigs_.insert(discovery.topic);
    }
    for (const DiscoveryConfig& discovery : configs) {
        mqtt_->Publish(discovery.topic, discovery.payload, 1, true);
    }
    ClearStaleConfigs();
}

// ---- the queue -----------------------------------------------------------------------

void Bridge::Enqueue(Request request) {
    {
        std::lock_guard lock(mutex_);
        if (online_ && !lost_) {
            queue_.push_back(std::move(request));
            changed_.notify_all();
            return;
        }
    }
    AnswerOffline(request);
}

void Bridge::AnswerOffline(const Request& request) {
    PublishResult(request, false, kOffline);
}

void Bridge::PublishResult(const Request& request, bool ok, const std::string& error, int pulses) {
    switch (request.kind) {
        case Request::Kind::kTransmit: {
            json result = {{"slot", request.slot}, {"sent", ok}};
            if (!ok) result["error"] = error;
            Publish("slot/" + std::to_string(request.slot) + "/result", result.dump(), 0, false);
            break;
        }
        case Request::Kind::kLearn: {
            json result = {{"slot", request.slot}};
            if (ok) {
                result["pulses"] = pulses;
            } else {
                result["error"] = error;
            }
            Publish("learn/result", result.dump(), 0, false);
            break;
        }
        case Request::Kind::kAc:
            Publish("ac/" + request.acId + "/state", AcStateJson(request.acState, ok).dump(), 1,
                    true);
            break;
        case Request::Kind::kTasks: {
            json result = {{"written", ok}};
            if (!ok) result["error"] = error;
            Publish("tasks/result", result.dump(), 0, false);
            break;
        }
    }
}

// ---- the module ----------------------------------------------------------------------

void Bridge::RunModule() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!online_) {
            lock.unlock();
            const bool opened = OpenModule();
            lock.lock();
            if (!opened) {
                changed_.wait_for(lock, kRetryOpen, [&] { return stopping_; });
            }
            continue;
        }
        changed_.wait(lock, [&] { return stopping_ || lost_ || !queue_.empty(); });
        if (stopping_) break;
        if (lost_) {
            lock.unlock();
            GoOffline();
            lock.lock();
            continue;
        }
        const Request request = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        Execute(request);
        lock.lock();
    }
}

// Opens the port and asks for the handshake: the module is online once it answered.
bool Bridge::OpenModule() {
    session::SessionHooks hooks;
    if (trace_) hooks.log = trace_;
    hooks.lost = [this] {
        {
            std::lock_guard lock(mutex_);
            lost_ = true;
        }
        changed_.notify_all();
    };
    auto session = std::make_unique<session::Session>(std::move(hooks));
    const session::PortName port = session::ResolvePortName(config_.port, serial::ScanDeviceMap());
    if (port.devicePath.empty()) return false;
    if (session->Open(port, {.baud = config_.baud}).status != serial::PortOpenStatus::kOpened) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return false;
        session_ = std::move(session);
        lost_ = false;
    }
    if (session_->Connect(protocol::kReplyTimeout) != WaitEnd::kAnswered) {
        std::lock_guard lock(mutex_);
        session_.reset();
        return false;
    }
    bool firstAddress;
    {
        std::lock_guard lock(mutex_);
        const std::string address = protocol::FormatAddress(session_->Target());
        firstAddress = address_ != address;
        address_ = address;
        online_ = true;
    }
    Trace("module online at " + config_.port);
    PublishAvailability();
    if (firstAddress) PublishDiscovery();
    std::string error;
    ReadAndPublishTasks(&error);
    return true;
}

// The port was lost: everything queued fails, and the worker tries it again every 2 s.
void Bridge::GoOffline() {
    std::deque<Request> failed;
    {
        std::lock_guard lock(mutex_);
        online_ = false;
        lost_ = false;
        failed.swap(queue_);
        session_.reset();
    }
    Trace("module offline: " + config_.port + " was lost");
    PublishAvailability();
    for (const Request& request : failed) AnswerOffline(request);
}

void Bridge::Execute(const Request& request) {
    switch (request.kind) {
        case Request::Kind::kTransmit:
            return Transmit(request);
        case Request::Kind::kLearn:
            return Learn(request);
        case Request::Kind::kAc:
            return SendAc(request);
        case Request::Kind::kTasks:
            return WriteTasks(request);
    }
}

void Bridge::Transmit(const Request& request) {
    std::vector<std::uint8_t> reply;
    const WaitEnd end =
        session_->Request(functions::kTransmit.request,
                          functions::EncodeSlotRequest(static_cast<std::uint16_t>(request.slot)),
                          protocol::kReplyTimeout, &reply);
    if (end != WaitEnd::kAnswered) return PublishResult(request, false, WaitError(end));
    const auto result = functions::DecodeTransmitResult(protocol::FrameView(reply).Payload());
    const bool sent = result && result->Sent();
    PublishResult(request, sent, sent ? "" : "the module could not transmit it");
}

void Bridge::Learn(const Request& request) {
    std::vector<std::uint8_t> reply;
    const WaitEnd end =
        session_->Request(functions::kLearn.request,
                          functions::EncodeSlotRequest(static_cast<std::uint16_t>(request.slot)),
                          std::chrono::seconds(config_.learnTimeoutSeconds), &reply);
    if (end != WaitEnd::kAnswered) return PublishResult(request, false, WaitError(end));
    const auto result = functions::DecodeLearnResult(protocol::FrameView(reply).Payload());
    PublishResult(request, result.has_value(), "the module's answer could not be read",
                  result ? result->PulseCount() : 0);
}

// The module answers only when it could not send: silence for a second is success.
void Bridge::SendAc(const Request& request) {
    const AirConditioner* ac = config_.FindAirConditioner(request.acId);
    const WaitEnd end = session_->Request(
        functions::kSendAcCode.request,
        functions::EncodeAcCode(AcRequestFor(ac != nullptr ? ac->brand : 0, request.acState)),
        functions::kFailureAnswerWait, nullptr);
    PublishResult(request, end == WaitEnd::kTimedOut, {});
}

void Bridge::WriteTasks(const Request& request) {
    const WaitEnd end = session_->Request(functions::kSetTimedTasks.request,
                                          functions::EncodeTimedTasks(request.tasks),
                                          protocol::kReplyTimeout, nullptr);
    if (end != WaitEnd::kAnswered) return PublishResult(request, false, WaitError(end));
    std::string error;
    const std::optional<functions::TimedTasks> read = ReadAndPublishTasks(&error);
    if (!read) return PublishResult(request, false, error);
    for (std::size_t i = 0; i < read->size(); ++i) {
        if (!((*read)[i] == request.tasks[i])) {
            return PublishResult(
                request, false,
                "task " + std::to_string(i + 1) + " reads back differently from what was written");
        }
    }
    PublishResult(request, true, {});
}

// Reads the tasks and publishes them, retained; nothing with *error when they could not
// be read.
std::optional<functions::TimedTasks> Bridge::ReadAndPublishTasks(std::string* error) {
    std::vector<std::uint8_t> reply;
    const WaitEnd end =
        session_->Request(functions::kReadTimedTasks.request, {}, protocol::kReplyTimeout, &reply);
    if (end != WaitEnd::kAnswered) {
        *error = WaitError(end);
        return std::nullopt;
    }
    const auto tasks = functions::DecodeTimedTasks(protocol::FrameView(reply).Payload());
    if (!tasks) {
        *error = "the tasks read back could not be read";
        return std::nullopt;
    }
    Publish("tasks", functions::TasksToJson(*tasks).dump(), 1, true);
    return tasks;
}

void Bridge::Trace(const std::string& line) {
    if (trace_) trace_(line);
}

}  // namespace orvante::bridge
