// SPDX-License-Identifier: Apache-2.0
// Figure 6: start-up to the main window shown. Each start is a process of
// its own (the driver started again with --figure startup-child), so that
// every start is a first one: fonts, styles and artwork made afresh.
#include "figures.h"
#include "harness.h"

#include "app/mainmodule.h"

#include <ccsim.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>

namespace tsy::bench {

namespace {
// Notes the first Expose of the main window's native window, and its Show.
class ShownWatcher : public QObject {
public:
    explicit ShownWatcher(const QElapsedTimer& t) : m_t(t) {}
    double exposedMs = -1;
    double shownMs = -1;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Expose && exposedMs < 0) {
            const auto* win = qobject_cast<QWindow*>(o);
            if (win && win->title().startsWith(QLatin1StringView("Tessaly")))
                exposedMs = ms_since(m_t);
        } else if (e->type() == QEvent::Show && shownMs < 0 &&
                   o->objectName() == QLatin1StringView("frmMain")) {
            shownMs = ms_since(m_t);
        }
        return false;
    }

private:
    const QElapsedTimer& m_t;
};
} // namespace

void figure_startup_child() {
    QElapsedTimer t;
    ShownWatcher watch(t);
    qApp->installEventFilter(&watch);
    t.start();
    SingleInstance instance;
    std::unique_ptr<frmMain> w = main_module(instance);
    const double moduleMs = ms_since(t);
    while (w && watch.exposedMs < 0 && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    qApp->removeEventFilter(&watch);
    std::printf("SHOWN %.3f %.3f %.3f\n", watch.exposedMs, watch.shownMs, w ? moduleMs : -1.0);
    std::fflush(stdout);
    w.reset();
}

void figure_startup() {
    const int reps = smoke() ? 1 : 7;
    QTemporaryDir tmp;
    ccsim::Home home = ccsim::Home::create(tmp.path().toStdString() + "/start home");
    home.makeDemo();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLEARCASEHOME"), QString::fromStdString(home.dir()));
    std::vector<double> inProcess, asProcess, module;
    int failed = 0;
    for (int i = 0; i < reps; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{QStringLiteral("--figure"), QStringLiteral("startup-child")};
        QElapsedTimer t;
        t.start();
        p.start(QCoreApplication::applicationFilePath(), args);
        QByteArray out;
        double shownAt = -1;
        while (p.waitForReadyRead(10000)) {
            out += p.readAllStandardOutput();
            if (out.contains('\n')) {
                shownAt = ms_since(t);
                break;
            }
        }
        p.waitForFinished(10000);
        out += p.readAllStandardOutput();
        const QList<QByteArray> f = out.trimmed().split(' ');
        if (f.size() != 4 || f.at(0) != "SHOWN" || f.at(1).toDouble() < 0 || shownAt < 0) {
            ++failed;
            continue;
        }
        inProcess.push_back(f.at(1).toDouble());
        module.push_back(f.at(3).toDouble());
        asProcess.push_back(shownAt);
    }
    if (failed)
        note(QStringLiteral("6: %1 of %2 starts showed no window").arg(failed).arg(reps));
    if (inProcess.empty())
        return;
    const double inproc = median_of(inProcess);
    const double proc = median_of(asProcess);
    row(QStringLiteral("6. Start-up, in-process: main_module -> first Expose"), fmt_ms(inproc),
        QStringLiteral("<= 300 ms"),
        QStringLiteral("main_module returns at %1").arg(fmt_ms(median_of(module))), inproc <= 300);
    row(QStringLiteral("6. Start-up as a process: exec -> window exposed"), fmt_ms(proc),
        QStringLiteral("<= 300 ms"), QStringLiteral("incl. QApplication, offscreen"), proc <= 300);
}

} // namespace tsy::bench
