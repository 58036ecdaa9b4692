#include "tests/bridge/broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace orvante::test {

using namespace std::chrono_literals;

int Broker::FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

namespace {

bool CanConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}  // namespace

Broker::Broker(int port, const std::string& tlsFolder) : port_(port != 0 ? port : FreePort()) {
    char pattern[] = "/tmp/orvante-broker-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder_ = pattern;
    {
        std::ofstream config(folder_ + "/mosquitto.conf");
        config << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
               << "persistence false\n";
        if (!tlsFolder.empty()) {
            tlsPort_ = FreePort();
            // mosquitto drops to its own user before it reads the certificates.
            config << "user root\nlistener " << tlsPort_ << " 127.0.0.1\ncertfile " << tlsFolder
                   << "/server.crt\nkeyfile " << tlsFolder << "/server.key\n";
        }
    }
    process_ = std::make_unique<ChildProcess>(
        "/usr/sbin/mosquitto", std::vector<std::string>{"-c", folder_ + "/mosquitto.conf"});
    for (int i = 0; i < 200 && !ready_; ++i) {
        ready_ = CanConnect(port_);
        if (!ready_) std::this_thread::sleep_for(25ms);
    }
}

Broker::~Broker() {
    Kill();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

bool Broker::MakeLocalhostCertificate(const std::string& folder) {
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
        "-addext subjectAltName=DNS:localhost -keyout '" +
        folder + "/server.key' -out '" + folder + "/server.crt' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

void Broker::Kill() {
    if (!process_) return;
    process_->Signal(SIGKILL);
    process_->WaitForExit();
    process_.reset();
}

Listener::Listener(int port) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto& listener = *static_cast<Listener*>(self);
        std::lock_guard lock(listener.mutex_);
        listener.messages_.push_back({m->topic,
                                      std::string(static_cast<const char*>(m->payload),
                                                  static_cast<std::size_t>(m->payloadlen)),
                                      m->retain});
        listener.arrived_.notify_all();
    });
    connected_ = mosquitto_connect(client_, "127.0.0.1", port, 60) == MOSQ_ERR_SUCCESS &&
                 mosquitto_subscribe(client_, nullptr, "#", 1) == MOSQ_ERR_SUCCESS &&
                 mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
}

Listener::~Listener() {
    mosquitto_disconnect(client_);
    // Not forced: the loop ends once the disconnect has gone out (a cancelled thread is
    // one the thread sanitizer cannot follow).
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

void Listener::Publish(const std::string& topic, const std::string& payload, bool retain) {
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), 1, retain);
}

std::optional<Message> Listener::WaitFor(const std::function<bool(const Message&)>& fits,
                                         std::chrono::milliseconds timeout, std::size_t from) {
    std::unique_lock lock(mutex_);
    std::optional<Message> found;
    arrived_.wait_for(lock, timeout, [&] {
        for (std::size_t i = from; i < messages_.size(); ++i) {
            if (fits(messages_[i])) {
                found = messages_[i];
                return true;
            }
        }
        return false;
    });
    return found;
}

std::optional<Message> Listener::WaitForTopic(const std::string& topic,
                                              std::chrono::milliseconds timeout, std::size_t from) {
    return WaitFor([&](const Message& m) { return m.topic == topic; }, timeout, from);
}

std::size_t Listener::Count() {
    std::lock_guard lock(mutex_);
    return messages_.size();
}

std::vector<Message> Listener::Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

}  // namespace orvante::test
