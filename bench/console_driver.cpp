#include "bench/console_driver.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>

#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "ui/resource.h"

namespace orvante::bench {

Console::Console(int port, int baud) {
    dialog_.OnInitDialog();
    window_.show();
    Choose(ui::IDC_PORT, QString("COM%1 (").arg(port));
    Choose(ui::IDC_BAUD, QString::number(baud > 0 ? baud : 230400));
    qobject_cast<QPushButton*>(window_.Control(ui::IDC_CONNECT))->click();
    connected_ = RunUntil([this] { return window_.GetText(ui::IDC_STATUS) == "连接成功！"; });
}

std::optional<Clock::duration> Console::Transfer(int button, const QString& path,
                                                 const QString& successText) {
    Clock::time_point start, end;
    bool succeeded = false;
    WhenShown<QFileDialog> choose([&](QFileDialog* d) {
        d->selectFile(path);
        start = Clock::now();
        static_cast<QDialog*>(d)->accept();
    });
    WhenShown<QMessageBox> done([&](QMessageBox* box) {
        if (end == Clock::time_point{}) end = Clock::now();
        succeeded = box->text() == successText;
        box->button(QMessageBox::Ok)->click();
    });
    qobject_cast<QPushButton*>(window_.Control(button))->click();
    if (!RunUntil([&] { return end != Clock::time_point{}; }) || !succeeded) return {};
    RunUntil([&] { return window_.IsControlEnabled(button); });
    return end - start;
}

void Console::Choose(int list, const QString& itemStart) {
    auto* combo = qobject_cast<QComboBox*>(window_.Control(list));
    const int item = combo->findText(itemStart, Qt::MatchStartsWith);
    combo->setCurrentIndex(item);
    emit combo->activated(item);
}

bool Console::RunUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void Console::RunFor(Clock::duration span) {
    bool over = false;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(span),
                       [&over] { over = true; });
    RunUntil([&over] { return over; });
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int RunConsoleBenchmarks(int argc, char** argv, void (*registerAll)()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::qt::ApplyClassicLook(app);
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace orvante::bench
