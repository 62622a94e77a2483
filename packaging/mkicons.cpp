// SPDX-License-Identifier: Apache-2.0
// Writes the program's icon, drawn by tsy::app_icon_pixmap(), as PNG files
// laid out like the hicolor icon theme: OUTDIR/NxN/apps/tessaly.png.
// Run at build time; the install rules copy the tree to share/icons/hicolor.
#include "common/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessaly_mkicons OUTDIR\n");
        return 2;
    }
    // Drawing needs a GUI application but no display. A build has no
    // runtime directory, and Qt's note about it is only noise here.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtWarningMsg && msg.startsWith(QLatin1StringView("QStandardPaths:")))
            return;
        std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString name = QStringLiteral("%1x%1").arg(size);
        const QString dir = out + QStringLiteral("/") + name + QStringLiteral("/apps");
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "tessaly_mkicons: cannot make %s\n", qPrintable(dir));
            return 1;
        }
        const QImage image = tsy::app_icon_pixmap(size).toImage();
        if (image.size() != QSize(size, size)) {
            std::fprintf(stderr, "tessaly_mkicons: icon drawn at %dx%d, wanted %s\n", image.width(),
                         image.height(), qPrintable(name));
            return 1;
        }
        const QString file = dir + QStringLiteral("/tessaly.png");
        if (!image.save(file, "PNG")) {
            std::fprintf(stderr, "tessaly_mkicons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
