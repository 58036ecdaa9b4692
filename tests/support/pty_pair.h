// A pseudo-terminal for tests: the test plays the far end of the line on the master
// side; the code under test opens the slave by its path like any serial device.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace orvante::test {

class PtyPair {
public:
    // Opens a master/slave pair. The slave descriptor from openpty stays open (never
    // read) so that the master does not see a hang-up while the port under test is
    // closed between two opens.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int MasterFd() const { return master_; }
    int SlaveFd() const { return slave_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Writes all bytes to the master side (the line towards the port under test).
    void Write(const std::vector<std::uint8_t>& bytes);
    // Reads from the master side until `count` bytes have come or the deadline passes.
    std::vector<std::uint8_t> Read(std::size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Whatever arrives within `quiet` of silence (for checking that nothing was sent).
    std::vector<std::uint8_t> ReadAvailable(std::chrono::milliseconds quiet);

    // Hangs up the line: closes the master (and the kept slave descriptor).
    void CloseMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace orvante::test
