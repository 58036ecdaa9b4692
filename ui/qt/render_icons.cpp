// orvante-render-icons FOLDER: writes the console's icons, drawn by the window's own
// code, as files for installing and for the Windows resources:
//   orvante-<size>.png for each desktop size, orvante.ico, and the connection
//   indicator's indicator-off.ico and indicator-on.ico.
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>
#include <vector>

#include "ui/qt/icon_files.h"

namespace {

using orvante::ui::IconId;
using namespace orvante::ui::qt;

// A file that already holds these bytes is left alone, so that what is built from it
// (the Windows resources, the programs) is not built again.
bool Write(const QString& path, const QByteArray& bytes) {
    if (QFile existing(path); existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) {
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "orvante-render-icons: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool WriteIco(const QString& path, IconId id) {
    std::vector<QImage> images;
    for (int size : kIconIcoSizes) images.push_back(IconImage(id, size));
    return Write(path, IcoFile(images));
}

}  // namespace

int main(int argc, char** argv) {
    // Drawing needs no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvante-render-icons FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool written = true;
    for (int size : kIconPngSizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        IconImage(IconId::kApplication, size).save(&buffer, "PNG");
        written = Write(folder + QStringLiteral("/orvante-%1.png").arg(size), png) && written;
    }
    written = WriteIco(folder + QStringLiteral("/orvante.ico"), IconId::kApplication) && written;
    written =
        WriteIco(folder + QStringLiteral("/indicator-off.ico"), IconId::kIndicatorOff) && written;
    written =
        WriteIco(folder + QStringLiteral("/indicator-on.ico"), IconId::kIndicatorOn) && written;
    return written ? 0 : 1;
}
