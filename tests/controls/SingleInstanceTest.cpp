// The single-instance guard inside one process: a second guard under the same title
// is a second instance; the first restores its window when asked over the socket.

#include "SingleInstance.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

    const QString name = TXJustOne::keyFor(TXJustOne::applicationTitle());
    std::atomic<bool> answered{false};
    std::thread second([&] {
        QLocalSocket socket;
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
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

TEST(GuardRequest, OnlyWellFormedRequestsAreTaken) {
    using R = std::optional<QString>;
    const std::pair<QByteArray, R> cases[] = {
        {"raise\n", QString()},
        {"open /home/op/a b.cfg\n", QStringLiteral("/home/op/a b.cfg")},
        {"open /x\n", QStringLiteral("/x")},
        {"raise", std::nullopt},
        {"open relative.cfg\n", std::nullopt},
        {"open \n", std::nullopt},
        {QByteArray("open /a\0b\n", 10), std::nullopt},
        {"open /a\nopen /b\n", std::nullopt},
        {"OPEN /x\n", std::nullopt},
        {"open /" + QByteArray(TXJustOne::kMaxRequest, 'a') + "\n", std::nullopt},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(TXJustOne::parseRequest(line), expected) << line.left(40).constData();
    }
    const QString path = QStringLiteral("/tmp/Prés ets/a.cfg");
    EXPECT_EQ(TXJustOne::parseRequest(TXJustOne::requestFor(path)), R(path));
}

// Garbage, an over-long message and a client that never finishes are hung up on,
// and none of them keeps a good request waiting.
TEST_F(Guard, BadClientsAreDroppedAndAGoodRequestStillOpensItsFile) {
    QWidget window;
    TXJustOne first(&window);
    first.RequestTimeoutMs = 200;
    QStringList opened;
    first.OnOpenFile = [&](const QString& path) { opened << path; };
    first.Loaded();
    ASSERT_FALSE(first.IsSecondInstance());

    const QString name = TXJustOne::keyFor(TXJustOne::applicationTitle());
    const QByteArray requests[] = {"hello\n",
                                   "open /" + QByteArray(TXJustOne::kMaxRequest + 10, 'a'), "",
                                   "open /half-said", "open /good/one.cfg\n"};
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (const QByteArray& request : requests) {
        auto client = std::make_unique<QLocalSocket>();
        client->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        client->connectToServer(name);
        ASSERT_TRUE(client->waitForConnected(2000));
        client->write(request);
        client->flush();
        clients.push_back(std::move(client));
    }
    const auto allBadGone = [&] {
        return std::all_of(clients.begin(), clients.end() - 1, [](const auto& c) {
            return c->state() == QLocalSocket::UnconnectedState;
        });
    };
    for (int i = 0; i < 300 && !(allBadGone() && !opened.isEmpty()); ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
    EXPECT_TRUE(allBadGone());
    EXPECT_EQ(opened, QStringList{"/good/one.cfg"});
    EXPECT_EQ(clients.back()->readAll(), QByteArray(TXJustOne::kAnswer));
}

// A process of another user that squats on this user's name (any process may bind
// any abstract name) neither makes this start a second instance nor gets an answer
// from the first. Needs root, to run the stranger as user nobody.
TEST_F(Guard, AnotherUsersProcessNeitherBlocksNorRaises) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "running a process as another user needs root";
    }
    const QByteArray key = TXJustOne::keyFor(TXJustOne::applicationTitle()).toUtf8();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, key.constData(), static_cast<std::size_t>(key.size()));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
    // The stranger: binds the name, or asks the holder to raise; says how it went.
    const auto asStranger = [&](bool squat) {
        int report[2];
        EXPECT_EQ(::pipe(report), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(report[0]);
            char result = 'x';
            if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                ::setresuid(65534, 65534, 65534) == 0) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                const auto* at = reinterpret_cast<const sockaddr*>(&address);
                if (squat) {
                    result = ::bind(fd, at, length) == 0 && ::listen(fd, 4) == 0 ? 'b' : 'n';
                } else if (::connect(fd, at, length) == 0) {
                    (void)::write(fd, TXJustOne::kRequest, std::strlen(TXJustOne::kRequest));
                    char answer[16];
                    result =
                        ::read(fd, answer, sizeof answer) > 0 ? 'a' : 'h'; // answered or hung up
                }
            }
            (void)::write(report[1], &result, 1);
            if (squat) {
                ::pause(); // holds the name until killed
            }
            ::_exit(0);
        }
        ::close(report[1]);
        return std::pair{pid, report[0]};
    };

    const auto [squatter, squatReport] = asStranger(true);
    char bound = 0;
    ASSERT_EQ(::read(squatReport, &bound, 1), 1);
    ASSERT_EQ(bound, 'b');
    {
        QWidget window;
        TXJustOne guard(&window);
        guard.RequestTerminate = [] { FAIL() << "a stranger's socket is no running instance"; };
        guard.Loaded();
        EXPECT_FALSE(guard.IsSecondInstance());
    }
    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
    ::close(squatReport);

    QWidget window;
    window.showMinimized();
    TXJustOne first(&window);
    first.Loaded();
    ASSERT_FALSE(first.IsSecondInstance());
    const auto [asker, askReport] = asStranger(false);
    char outcome = 0;
    for (int i = 0; i < 500; ++i) { // the stranger waits for this side's event loop
        pollfd ready{askReport, POLLIN, 0};
        if (::poll(&ready, 1, 10) == 1 && ::read(askReport, &outcome, 1) == 1) {
            break;
        }
        QCoreApplication::processEvents();
    }
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(5);
    }
    ::waitpid(asker, nullptr, 0);
    ::close(askReport);
    EXPECT_EQ(outcome, 'h') << "the stranger is hung up on";
    EXPECT_TRUE(window.isMinimized());
}

} // namespace
} // namespace cantavel
