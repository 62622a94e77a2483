// SPDX-License-Identifier: Apache-2.0
#include "process/epolldispatcher_linux.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>

using tsy::process::EpollDispatcher;

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fd, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() { closeBoth(); }
    void closeBoth() {
        for (int& f : fd)
            if (f >= 0)
                ::close(std::exchange(f, -1));
    }
    void put() const { EXPECT_EQ(::write(fd[1], "x", 1), 1); }
};

} // namespace

TEST(EventLoop, IsTheOneInstalled) {
    EXPECT_NE(qobject_cast<EpollDispatcher*>(QCoreApplication::eventDispatcher()), nullptr);
}

// Two descriptors ready in one turn: the first one's handler closes the
// second and opens a new pipe under the same number. The new one, with
// nothing to read, must not be told of the old one's readiness: a reader
// of a blocking pipe would hang the program.
TEST(EventLoop, ADescriptorClosedAndReopenedInATurnIsNotToldOfTheOldOnesEvents) {
    Pipe a;
    auto b = std::make_unique<Pipe>();
    a.put();
    b->put();
    QSocketNotifier na(a.fd[0], QSocketNotifier::Read);
    auto nb = std::make_unique<QSocketNotifier>(b->fd[0], QSocketNotifier::Read);
    std::unique_ptr<Pipe> c;
    std::unique_ptr<QSocketNotifier> nc;
    int toldC = 0, toldB = 0, toldA = 0;
    const auto reopen = [&] {
        const int number = b->fd[0];
        nb.reset();
        b.reset();
        c = std::make_unique<Pipe>();
        ASSERT_EQ(c->fd[0], number) << "the test needs the number used again";
        nc = std::make_unique<QSocketNotifier>(c->fd[0], QSocketNotifier::Read);
        QObject::connect(nc.get(), &QSocketNotifier::activated, [&] { ++toldC; });
    };
    // Whichever of a and b the kernel names first closes the other.
    QObject::connect(&na, &QSocketNotifier::activated, [&] {
        ++toldA;
        char ch;
        (void)::read(a.fd[0], &ch, 1);
        if (b)
            reopen();
    });
    QObject::connect(nb.get(), &QSocketNotifier::activated, [&] {
        ++toldB;
        EXPECT_TRUE(false) << "b was closed before its turn";
    });
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(toldA, 1);
    EXPECT_EQ(toldB, 0);
    EXPECT_EQ(toldC, 0);
    // The new pipe is watched: what is written to it is told.
    c->put();
    EXPECT_TRUE(QTest::qWaitFor([&] { return toldC == 1; }, 2000));
}

TEST(EventLoop, TimersKeepTheirTimeAndAStoppedOneDoesNotFire) {
    QTimer soon, stopped, repeating;
    soon.setSingleShot(true);
    stopped.setSingleShot(true);
    bool stoppedFired = false;
    QElapsedTimer clock;
    qint64 soonAt = -1, fifthAt = -1;
    int ticks = 0;
    QObject::connect(&soon, &QTimer::timeout, [&] {
        soonAt = clock.elapsed();
        stopped.stop(); // due in the same turn
    });
    QObject::connect(&stopped, &QTimer::timeout, [&] { stoppedFired = true; });
    QObject::connect(&repeating, &QTimer::timeout, [&] {
        if (++ticks == 5)
            fifthAt = clock.elapsed();
    });
    clock.start();
    soon.start(60);
    stopped.start(60);
    repeating.start(20);
    EXPECT_GT(repeating.remainingTime(), 0);
    EXPECT_LE(repeating.remainingTime(), 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 5 && soonAt >= 0; }, 10000));
    repeating.stop();
    // Never early, however late a loaded machine makes them.
    EXPECT_GE(soonAt, 60);
    EXPECT_GE(fifthAt, 100);
    EXPECT_FALSE(stoppedFired);
}

// A loop asleep with nothing to wait for is woken by an event posted from
// another thread, and leaves when told to.
TEST(EventLoop, AnotherThreadsEventWakesASleepingLoopAndExitEndsIt) {
    QEventLoop loop;
    QObject receiver;
    bool arrived = false;
    std::thread poster([&] {
        ::usleep(100'000);
        QMetaObject::invokeMethod(
            &receiver,
            [&] {
                arrived = true;
                loop.exit(7);
            },
            Qt::QueuedConnection);
    });
    QElapsedTimer clock;
    clock.start();
    const int code = loop.exec();
    poster.join();
    EXPECT_TRUE(arrived);
    EXPECT_EQ(code, 7);
    EXPECT_LT(clock.elapsed(), 5000);
}

int main(int argc, char** argv) {
    tsy::test::TestProgramEnv env;
    QCoreApplication::setEventDispatcher(new EpollDispatcher);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
