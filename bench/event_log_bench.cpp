// Appending a log entry with a 64-byte dump to the real log edit (Qt, offscreen), into
// logs from empty to near their 30,000-byte capacity: how an entry's cost grows with
// what the log already holds. The edit takes entries in batches (at most every 50 ms),
// so an entry's time includes its share of the batched inserts and their painting.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "ui/event_log.h"
#include "ui/qt/qt_window.h"
#include "ui/resource.h"

namespace orvante {
namespace {

void BM_LogEntryWith64ByteDump(benchmark::State& state) {
    const std::size_t startSize = static_cast<std::size_t>(state.range(0));
    ui::qt::QtWindow window;
    window.show();  // laid out at its real size, as on screen
    ui::EventLog log(window, ui::IDC_LOG);
    std::uint8_t frame[64];
    for (int i = 0; i < 64; ++i) frame[i] = static_cast<std::uint8_t>(i * 7);
    // Earlier entries: lines like the ones the log holds.
    std::string filler;
    while (filler.size() + 40 <= startSize)
        filler += "\r\n12:00:00 接收:7E 05 00 34 12 FF FF 02 C9 ";
    window.SetText(ui::IDC_LOG, filler);
    window.AppendText(ui::IDC_LOG, "\r\n");
    QCoreApplication::processEvents();

    for (auto _ : state) {
        // Keep the log where this case starts: stay below the capacity, which empties it.
        if (window.TextLength(ui::IDC_LOG) > startSize + 800) {
            state.PauseTiming();
            window.SetText(ui::IDC_LOG, filler);
            // A new text is laid out when it is first scrolled: do that here, untimed.
            window.AppendText(ui::IDC_LOG, "\r\n");
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
        log.LogEvent("接收:", frame, 64);
        QCoreApplication::processEvents();  // due batches reach the widget
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEntryWith64ByteDump)
    ->ArgName("log_bytes")
    ->Arg(0)
    ->Arg(2000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(29000);

}  // namespace
}  // namespace orvante

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
