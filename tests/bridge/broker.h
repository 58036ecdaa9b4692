// A real MQTT broker for the bridge's tests (Debian's mosquitto) on a free local port,
// and a client that records everything it receives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

struct mosquitto;

namespace orvante::test {

// mosquitto listening on 127.0.0.1:<a port bind(0) found free>, anonymous clients
// allowed; with `tlsFolder` also on a TLS port, with the certificate made there for
// localhost (server.crt, server.key).
class Broker {
public:
    explicit Broker(int port = 0, const std::string& tlsFolder = {});
    int TlsPort() const { return tlsPort_; }
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    void Kill();

    static int FreePort();
    // A certificate and key for localhost in `folder` (openssl), its own CA.
    static bool MakeLocalhostCertificate(const std::string& folder);

private:
    int port_;
    int tlsPort_ = 0;
    std::string folder_;
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
};

struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
};

// Subscribed to everything; publishes as a test would.
class Listener {
public:
    explicit Listener(int port);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool Connected() const { return connected_; }
    void Publish(const std::string& topic, const std::string& payload, bool retain = false);
    // The first message from `from` on that fits, waiting up to `timeout`.
    std::optional<Message> WaitFor(const std::function<bool(const Message&)>& fits,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                   std::size_t from = 0);
    std::optional<Message> WaitForTopic(
        const std::string& topic, std::chrono::milliseconds timeout = std::chrono::seconds(10),
        std::size_t from = 0);
    std::size_t Count();
    std::vector<Message> Messages();

private:
    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
    bool connected_ = false;
};

}  // namespace orvante::test
