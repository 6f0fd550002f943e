// The single-instance guard inside one process: a second guard under the same title
// is a second instance; the first restores its window when asked over the socket.

#include "Justone.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace cantavel {
namespace {

class Guard : public ::testing::Test {
protected:
    void SetUp() override {
        // A title of this test's own keeps it apart from any other instance.
        qApp->setProperty("ApplicationTitle",
                          QStringLiteral("guard test %1").arg(QCoreApplication::applicationPid()));
    }
    void TearDown() override { qApp->setProperty("ApplicationTitle", QVariant()); }
};

TEST_F(Guard, FirstHoldsTheLockSecondIsRefusedAndTold) {
    QWidget firstWindow;
    TXJustOne first(&firstWindow);
    EXPECT_TRUE(first.SwitchToPrevious());
    first.Loaded();
    EXPECT_TRUE(first.MutexHeld());
    EXPECT_FALSE(first.IsSecondInstance());

    QWidget secondWindow;
    TXJustOne second(&secondWindow);
    int told = 0;
    int terminations = 0;
    second.AlreadyExist = [&](QObject* sender) {
        EXPECT_EQ(sender, &second);
        ++told;
    };
    second.RequestTerminate = [&] { ++terminations; };
    second.SetSwitchToPrevious(false); // no asking, just ending
    second.Loaded();
    EXPECT_TRUE(second.IsSecondInstance());
    EXPECT_TRUE(second.MutexHeld()) << "set once the check is done, whatever its outcome";
    EXPECT_EQ(told, 1);
    EXPECT_EQ(terminations, 1);
}

TEST_F(Guard, LockIsFreeAgainOnceTheFirstIsGone) {
    {
        QWidget window;
        TXJustOne first(&window);
        first.Loaded();
        ASSERT_FALSE(first.IsSecondInstance());
    }
    QWidget window;
    TXJustOne next(&window);
    next.RequestTerminate = [] { FAIL() << "the next start is the first instance"; };
    next.Loaded();
    EXPECT_FALSE(next.IsSecondInstance());
}

TEST_F(Guard, RequestRestoresAMinimisedWindowAndAnswers) {
    QWidget window;
    window.resize(200, 100);
    TXJustOne first(&window);
    first.Loaded();
    window.showMinimized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(window.isMinimized());

    const QString name = TXJustOne::serverName(TXJustOne::keyFor(TXJustOne::applicationTitle()));
    std::atomic<bool> answered{false};
    std::thread second([&] {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(2000)) {
            socket.write(TXJustOne::kRequest);
            socket.waitForBytesWritten(2000);
            answered = socket.waitForReadyRead(3000) && socket.readAll() == TXJustOne::kAnswer;
        }
    });
    for (int i = 0; i < 300 && !answered; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
    second.join();
    EXPECT_TRUE(answered);
    EXPECT_FALSE(window.isMinimized());
}

} // namespace
} // namespace cantavel
