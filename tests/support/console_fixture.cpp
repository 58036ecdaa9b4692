#include "tests/support/console_fixture.h"

#include "protocol/commands.h"
#include "protocol/module_frame.h"

namespace orvante::test {

using namespace std::chrono_literals;

ConsoleFixture::ConsoleFixture() {
    window_.LoadMainTemplate();
    ports_ = {{kLinePort, {pty_.SlavePath(), "pty"}},
              {kLinePort + 1, {"/nonexistent/tty", "gone"}}};
    ui::ConsoleEnvironment environment;
    environment.scanPorts = [this] { return ports_; };
    environment.resolvePort = [this](int port) -> std::optional<std::string> {
        const auto it = ports_.find(port);
        if (it == ports_.end()) return std::nullopt;
        return it->second.devicePath;
    };
    environment.clock = [] { return platform::TimeOfDay{12, 34, 56}; };
    environment.transferClock = &transferClock_;
    dialog_ = std::make_unique<ui::CConsoleDlg>(window_, environment);
    dialog_->OnInitDialog();
}

ConsoleFixture::~ConsoleFixture() {
    dialog_.reset();
}

std::vector<std::string> LogLinesOf(const FakeWindow& window) {
    std::vector<std::string> lines;
    const std::string log = window.GetText(ui::IDC_LOG);
    std::size_t at = 0;
    while (at <= log.size()) {
        const std::size_t end = log.find("\r\n", at);
        std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.size() >= 9 && line[2] == ':' && line[5] == ':' && line[8] == ' ') {
            line = line.substr(9);
        }
        if (!(lines.empty() && at == 0 && line.empty())) lines.push_back(line);
        if (end == std::string::npos) break;
        at = end + 2;
    }
    return lines;
}

std::vector<std::string> ConsoleFixture::LogLines() const {
    return LogLinesOf(window_);
}

bool ConsoleFixture::LogHas(const std::string& line) const {
    for (const auto& l : LogLines()) {
        if (l == line) return true;
    }
    return false;
}

std::size_t ConsoleFixture::BoxesWithText(const std::string& text) const {
    std::size_t n = 0;
    for (const auto& box : window_.Boxes()) n += box.text == text;
    return n;
}

bool ConsoleFixture::PumpUntil(const std::function<bool()>& condition) {
    return window_.PumpUntil(condition, 5s);
}

void ConsoleFixture::Settle() {
    window_.PumpUntil([] { return false; }, 30ms);
}

std::vector<std::uint8_t> ConsoleFixture::ReadFromConsole(std::size_t count) {
    return ReadFromConsole(pty_, count);
}

std::vector<std::uint8_t> ConsoleFixture::ReadFromConsole(PtyPair& line, std::size_t count) {
    // The console's monitor may need the window to take deliveries before it writes.
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        window_.Pump();
        const auto more = line.Read(count - bytes.size(), 5ms);
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
    return bytes;
}

void ConsoleFixture::ConnectTo(std::uint16_t address) {
    window_.Click(ui::IDC_CONNECT);
    const auto request = ReadFromConsole(protocol::kHandshakeFrame.size());
    ASSERT_EQ(request, std::vector<std::uint8_t>(protocol::kHandshakeFrame.begin(),
                                                 protocol::kHandshakeFrame.end()));
    pty_.Write(Reply(address, protocol::kBroadcastAddress, protocol::kCmdConnectReply));
    ASSERT_TRUE(PumpUntil([&] { return Dialog().LocalAddress() == address; }));
}

std::vector<std::uint8_t> Reply(std::uint16_t source, std::uint16_t destination,
                                std::uint8_t command, std::vector<std::uint8_t> payload) {
    return protocol::BuildModuleFrame(source, destination, command, payload);
}

}  // namespace orvante::test
