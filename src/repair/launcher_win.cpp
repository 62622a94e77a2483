// SPDX-License-Identifier: Apache-2.0
// Starting fix_prot on Windows: CreateProcessA through the Qt-free process
// layer, which quotes the program and its arguments by the C runtime's
// rules, with the run mode as the show-window style. The program's end
// arrives as an event (QWinEventNotifier on its process handle), its exit
// status comes from GetExitCodeProcess, and nothing waits.
//
// No terminal and no wrapper are needed here: the console program shows
// its own window (or none, hidden), and the process handle is the
// program's own, so the status is always known.
#include "repair/launcher.h"

#include "platform/process_win.h"

#include <QTimer>
#include <QWinEventNotifier>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tsy::repair {

namespace {

// Text for the ANSI entry points. False when the text holds characters the
// ANSI code page cannot represent: they would reach the program as '?'.
bool to_ansi(const QString& text, std::string& out) {
    const QByteArray bytes = text.toLocal8Bit();
    if (QString::fromLocal8Bit(bytes) != text)
        return false;
    out.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

QString from_ansi(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

int show_window_style(RunMode mode) {
    switch (mode) {
    case RunMode::Hide:
        return 0; // SW_HIDE
    case RunMode::Minimized:
        return 2; // SW_SHOWMINIMIZED
    case RunMode::Normal:
        break;
    }
    return 1; // SW_SHOWNORMAL
}

class WinLaunch : public Launch {
public:
    WinLaunch(const LaunchSpec& spec, QObject* parent)
        : Launch(parent), m_words(QStringList{spec.program} + spec.arguments) {
        std::string program;
        std::vector<std::string> arguments;
        QString problem;
        if (!to_ansi(spec.program, program)) {
            problem = QStringLiteral("the program's name cannot be written in the system's "
                                     "code page: ") +
                      spec.program;
        }
        for (const QString& argument : spec.arguments) {
            if (!problem.isEmpty())
                break;
            std::string word;
            if (!to_ansi(argument, word)) {
                problem = QStringLiteral("an argument cannot be written in the system's "
                                         "code page: ") +
                          argument;
                break;
            }
            arguments.push_back(std::move(word));
        }
        if (problem.isEmpty()) {
            std::string error;
            m_child = plat::start_program(program, arguments, show_window_style(spec.mode), error,
                                          /*ownProcessGroup=*/true);
            if (!m_child)
                problem = from_ansi(error);
        }
        if (!m_child) {
            // Said on a later turn, once the caller has connected.
            if (problem.isEmpty())
                problem = QStringLiteral("the program could not be started");
            QTimer::singleShot(0, this, [this, problem] { emit failedToStart(problem); });
            return;
        }
        // The handle is signalled when the program ends; the notifier turns
        // that into an event of this thread's loop, never sooner than the
        // next turn.
        m_notifier = new QWinEventNotifier(m_child->handle(), this);
        connect(m_notifier, &QWinEventNotifier::activated, this, [this] { childEnded(); });
    }
    ~WinLaunch() override { abandon(); }

    QStringList startedWords() const override { return m_words; }

    // The program runs on; only our handles on it are closed.
    void abandon() override {
        stopWatching();
        m_child.reset();
    }

private:
    void stopWatching() {
        if (!m_notifier)
            return;
        // Disabled before the handle it watches is closed.
        m_notifier->setEnabled(false);
        m_notifier->disconnect(this);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }

    void childEnded() {
        if (!m_child)
            return;
        stopWatching();
        const std::unique_ptr<plat::Child> child = std::move(m_child);
        ProgramEnd end;
        if (const std::optional<std::uint32_t> code = child->exitCode()) {
            end.known = true;
            end.crashed = plat::ended_by_exception(*code);
            end.exitCode = static_cast<int>(*code);
        } else {
            end.reason = QStringLiteral("the program's exit status could not be read");
        }
        emit ended(end);
    }

    QStringList m_words;
    std::unique_ptr<plat::Child> m_child;
    QWinEventNotifier* m_notifier = nullptr;
};

} // namespace

Launch* Launch::start(const LaunchSpec& spec, QObject* parent) {
    return new WinLaunch(spec, parent);
}

// The repair unit is a POSIX matter: Windows has none.
QString wrapper_path() {
    return QString();
}

} // namespace tsy::repair
