// CSerialChannel: the console's one connection to a serial port. It opens and
// configures the port, and runs a monitor thread that waits at once for a stop
// request, for the port and for frames to send; it hands every received byte to its
// owner window and writes queued frames whole and in order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys_error.h"
#include "serial/input_gathering.h"
#include "serial/line_settings.h"
#include "serial/port_io.h"
#include "serial/port_open_result.h"
#include "serial/serial_owner.h"

namespace orvante::serial {

// Comm event mask bits, as the window logic gives them to OpenPort.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;

// The box text of a failed port call.
std::string ComposePortError(const std::string& callName, const platform::SysError& error,
                             int port);
inline constexpr const char* kPortErrorCaption = "Application Error";
inline constexpr const char* kPortNotOpenText = "请先打开串口!\n";

// Turns a port number into the device path to open; nothing when there is no such port.
using PortResolver = std::function<std::optional<std::string>(int port)>;
// The default: the machine's device map (ports directory, then serial hardware).
std::optional<std::string> ResolvePortFromDeviceMap(int port);

class CSerialChannel {
public:
    // `owner` receives the channel's boxes until an OpenPort names the owner window.
    explicit CSerialChannel(PortResolver resolver = ResolvePortFromDeviceMap,
                            SerialOwner* owner = nullptr);
    virtual ~CSerialChannel();
    CSerialChannel(const CSerialChannel&) = delete;
    CSerialChannel& operator=(const CSerialChannel&) = delete;

    // Window thread. Ends a running monitor first, then opens and configures the port.
    // Frames are queued whole whatever their length, so `sendBufferSize` limits nothing.
    // False when the device cannot be opened; true when it is open, also when a
    // configuration step failed (that step's error box has then been shown).
    bool OpenPort(SerialOwner* owner, int portNumber, int baud, char parity, int dataBits,
                  int stopBits, std::uint32_t commMask, int sendBufferSize) {
        return Open(owner, portNumber, baud, parity, dataBits, stopBits, commMask, sendBufferSize)
            .PortIsOpen();
    }
    // OpenPort, saying what went wrong: not found, busy, no permission, lost, or a line
    // setting refused (the port then stays open, and the channel's box has been shown).
    PortOpenResult Open(SerialOwner* owner, int portNumber, int baud, char parity, int dataBits,
                        int stopBits, std::uint32_t commMask, int sendBufferSize);
    // Window thread, after a successful OpenPort. True when the monitor was started.
    bool StartMonitor();
    // Asks the monitor to close the port and end; returns at once.
    void StopMonitor();
    // Window thread: ends a running monitor, waiting for it, and closes the port. The
    // destructor does this too; an owner calls it first when what the monitor's
    // messages reach is about to go.
    void Close();
    // Any thread. Queues a whole frame; frames are written in the order queued. With no
    // open port it shows "请先打开串口!\n" and queues nothing.
    void QueueSend(const std::uint8_t* bytes, std::size_t length);

    // Whether the channel holds an open port (any thread).
    bool IsPortOpen() const { return m_bPortOpen.load(); }
    // Open, and not being given up: no stop of its monitor has been asked for.
    bool IsPortInUse() const { return m_bPortOpen.load() && !m_bStopRequested.load(); }
    bool IsMonitorRunning() const { return m_bMonitorRunning.load(); }
    int PortNumber() const { return m_nComPort; }

    // The channel's own error box, on whichever thread met the failure.
    void ShowPortError(const std::string& callName, const platform::SysError& error);

private:
    // The monitor thread and its steps.
    void MonitorThread();
    enum class Step { kGoOn, kEnd };
    Step OnPortEvent(const PortWake& wake);
    Step OnSendRequest();
    void LetBytesGather();
    bool DrainInput(std::vector<SerialMessage>& messages, platform::SysError* error);
    Step WritePending();
    void AppendMaskNotifications(std::vector<SerialMessage>& messages) const;
    void Deliver(std::vector<SerialMessage> messages);
    void CloseOnStop();
    void CloseOnDeviceLoss(const std::string& callName, const platform::SysError& error);

    // Steps of OpenPort.
    void EndMonitor();
    void ResetEvents();
    // The call that refused a setting, with its error; nothing when all were taken.
    std::optional<CallFailure> ConfigurePort(const std::string& definition);
    void ClosePort();

    void RequestStop();
    // Forgets the frames being written (the monitor's, or with no monitor running).
    void DropWriting();
    // QueueSend's shortcut; false when the frame must go through the monitor.
    bool WriteAtOnce(const std::uint8_t* bytes, std::size_t length);

    // What the window thread checks before it handles something a monitor handed over:
    // shared with those deliveries, since they may run after the monitor, or the
    // channel, has gone.
    struct MonitorRun {
        std::atomic<bool> delivering{true};  // false once the monitor is asked to stop or ends
        std::atomic<bool> latest{true};      // false once the port is opened again or closed
    };
    // Window thread, with no monitor running: nothing of the last monitor is handled any more.
    void RetireRun();

    PortResolver m_resolver;
    SerialOwner* m_pOwnerWnd = nullptr;
    int m_nComPort = 0;
    std::uint32_t m_dwCommMask = 0;
    LineSettings m_lineState;

    std::recursive_mutex m_csPort;  //!< Protects the port in m_io and its configuration
    // The port and the stop and send events, waited on in this order: stop, port, send.
    PortIo m_io;
    std::atomic<bool> m_bPortOpen{false};  // the port is open; read by QueueSend on any thread
    std::atomic<bool> m_bStopRequested{false};

    std::mutex m_csQueue;  //!< Protects m_queuedFrames and m_bMonitorWriting
    std::deque<std::vector<std::uint8_t>> m_queuedFrames;

    // Monitor-thread state: the frame being written and how much of it has gone.
    std::deque<std::vector<std::uint8_t>> m_writing;
    bool m_bMonitorWriting = false;  // m_writing holds frames: nobody else may write
    std::size_t m_writeOffset = 0;
    InputGathering m_gathering;  // when to read what has arrived

    std::thread m_monitorThread;
    std::atomic<bool> m_bMonitorRunning{false};
    // The last monitor started; replaced only by StartMonitor, while no monitor runs.
    std::shared_ptr<MonitorRun> m_run;
};

}  // namespace orvante::serial
