// A console dialog on the in-memory window, with its serial line on a pseudo-terminal
// whose far end the test plays (or the virtual module plays).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_window.h"
#include "tests/support/manual_clock.h"
#include "tests/support/pty_pair.h"
#include "ui/console_dlg.h"

namespace orvante::test {

class ConsoleFixture : public ::testing::Test {
protected:
    // The port list offers COM3 (the pty) and COM4 (a port that cannot be opened).
    static constexpr int kLinePort = 3;

    ConsoleFixture();
    ~ConsoleFixture() override;

    ui::CConsoleDlg& Dialog() { return *dialog_; }

    // Log lines without their time stamps ("hh:mm:ss " cut), in order; the first,
    // empty line of the log is left out.
    std::vector<std::string> LogLines() const;
    bool LogHas(const std::string& line) const;
    std::size_t BoxesWithText(const std::string& text) const;

    // Connects with the connect button and answers the handshake as a module at
    // `address` would; returns once the console has the reply.
    void ConnectTo(std::uint16_t address);
    // Waits until the peer has `count` bytes from the console (on `line`, by default
    // the fixture's own).
    std::vector<std::uint8_t> ReadFromConsole(std::size_t count);
    std::vector<std::uint8_t> ReadFromConsole(PtyPair& line, std::size_t count);
    bool PumpUntil(const std::function<bool()>& condition);
    // Pumps for a short while so that anything under way arrives.
    void Settle();

    FakeWindow window_;
    PtyPair pty_;
    serial::DeviceMap ports_;
    ManualClock transferClock_;  // the library transfer's time-outs, moved by the test
    std::unique_ptr<ui::CConsoleDlg> dialog_;
};

// The log's entries without their time stamps ("hh:mm:ss " cut), in order; the first,
// empty line of the log is left out.
std::vector<std::string> LogLinesOf(const FakeWindow& window);

// A reply frame from `source` to `destination`.
std::vector<std::uint8_t> Reply(std::uint16_t source, std::uint16_t destination,
                                std::uint8_t command, std::vector<std::uint8_t> payload = {});

}  // namespace orvante::test
