// SPDX-License-Identifier: Apache-2.0
#include "harness.h"

#include "common/msgbox.h"
#include "ui.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace tsy::bench {

namespace {
bool g_smoke = false;
int g_unexpected = 0;

// Table cells are separated by '|'; a cell must not hold one.
QString cell(QString s) {
    return s.replace(u'|', u'/');
}
} // namespace

bool smoke() {
    return g_smoke;
}
void set_smoke(bool on) {
    g_smoke = on;
}

double median_of(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double median_ms(int reps, const std::function<double()>& once) {
    std::vector<double> v;
    for (int i = 0; i < std::max(1, reps); ++i)
        v.push_back(once());
    return median_of(std::move(v));
}

double self_cpu_ms() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    const auto ms = [](const timeval& tv) {
        return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0;
    };
    return ms(ru.ru_utime) + ms(ru.ru_stime);
}

double proc_status_mib(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.startsWith(key))
            continue;
        // "VmHWM:	  123456 kB"
        const QByteArray kb = line.mid(key.size()).trimmed().split(' ').value(0);
        bool ok = false;
        const double v = kb.toDouble(&ok);
        return ok ? v / 1024.0 : -1;
    }
    return -1;
}

void row(const QString& figure, const QString& value, const QString& target, const QString& ratio,
         int met) {
    // A smoke run measures at small sizes: its figures cannot meet or miss.
    const char* m = met < 0 ? "-" : g_smoke ? "(smoke)" : (met ? "yes" : "NO");
    std::printf("ROW|%s|%s|%s|%s|%s\n", qPrintable(cell(figure)), qPrintable(cell(value)),
                qPrintable(cell(target.isEmpty() ? QStringLiteral("-") : target)),
                qPrintable(cell(ratio.isEmpty() ? QStringLiteral("-") : ratio)), m);
    std::fflush(stdout);
}

void note(const QString& text) {
    std::printf("NOTE|%s\n", qPrintable(text));
    std::fflush(stdout);
}

QString fmt_ms(double ms) {
    if (ms >= 1000)
        return QString::number(ms / 1000.0, 'f', 2) + QStringLiteral(" s");
    if (ms >= 100)
        return QString::number(ms, 'f', 0) + QStringLiteral(" ms");
    if (ms >= 10)
        return QString::number(ms, 'f', 1) + QStringLiteral(" ms");
    return QString::number(ms, 'f', 2) + QStringLiteral(" ms");
}

QString fmt_num(double v, int dec) {
    return QString::number(v, 'f', dec);
}

QString fmt_count(int n) {
    QString s = QString::number(n);
    for (qsizetype i = s.size() - 3; i > 0; i -= 3)
        s.insert(i, u',');
    return s;
}

void settle_window(frmMain& w) {
    if (!tsy::test::settle(w, 30 * 60'000))
        qFatal("the window's work did not end within 30 minutes");
}

void install_quiet_boxes() {
    set_msg_responder([](const MsgRequest& r) {
        ++g_unexpected;
        QString t = r.text;
        t.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        if (t.size() > 300)
            t = t.left(300) + QStringLiteral("...");
        note(QStringLiteral("unexpected message box \"%1\": %2").arg(r.title, t));
        return r.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    });
}

int unexpected_boxes() {
    return g_unexpected;
}

} // namespace tsy::bench
