// SPDX-License-Identifier: Apache-2.0
// The benchmark driver: runs one figure per process and prints its rows
// ("ROW|figure|value|target|ratio|met") for scripts/bench.sh to lay out.
//
//   tessaly_bench --figure load|cli|wait|run|list|startup|memory|stall|headless|hosts|check|night
//   [--smoke] tessaly_bench --list
#include "figures.h"
#include "harness.h"
#include "repair/launcher.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

struct Figure {
    const char* name;
    void (*run)();
};

const Figure kFigures[] = {
    {"load", tsy::bench::figure_load},         {"cli", tsy::bench::figure_cli},
    {"wait", tsy::bench::figure_wait},         {"run", tsy::bench::figure_run},
    {"list", tsy::bench::figure_list},         {"startup", tsy::bench::figure_startup},
    {"memory", tsy::bench::figure_memory},     {"stall", tsy::bench::figure_stall},
    {"headless", tsy::bench::figure_headless}, {"hosts", tsy::bench::figure_hosts},
    {"check", tsy::bench::figure_check},       {"night", tsy::bench::figure_night},
};

int usage() {
    std::fprintf(stderr, "usage: tessaly_bench --figure NAME [--smoke] | --list\nfigures:");
    for (const Figure& f : kFigures)
        std::fprintf(stderr, " %s", f.name);
    std::fprintf(stderr, "\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const char* figure = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            tsy::bench::set_smoke(true);
        } else if (std::strcmp(argv[i], "--figure") == 0 && i + 1 < argc) {
            figure = argv[++i];
        } else if (std::strcmp(argv[i], "--list") == 0) {
            for (const Figure& f : kFigures)
                std::printf("%s\n", f.name);
            return 0;
        } else {
            return usage();
        }
    }
    if (!figure)
        return usage();

    void (*run)() = nullptr;
    if (std::strcmp(figure, "startup-child") == 0)
        run = tsy::bench::figure_startup_child;
    for (const Figure& f : kFigures) {
        if (std::strcmp(figure, f.name) == 0)
            run = f.run;
    }
    if (!run)
        return usage();

    // No desktop: windows are drawn offscreen, programs run without a
    // terminal, and the single-instance lock lives in a private directory.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("TERMINAL");
    // In memory, as a login session's /run/user/UID is: the repair units'
    // records and the locks are written there once per view.
    const QString shm = QStringLiteral("/dev/shm");
    QTemporaryDir runtime((QFileInfo(shm).isWritable() ? shm : QDir::tempPath()) +
                          QStringLiteral("/tessaly-bench-XXXXXX"));
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("TESSALY_LOCK_DIR", QFile::encodeName(runtime.path() + QStringLiteral("/locks")));
    qputenv("TESSALY_WRAP", TESSALY_BENCH_WRAP);

    QApplication app(argc, argv);
    tsy::bench::install_quiet_boxes();
    run();
    return 0;
}
