// The single-instance guard inside one process: a second guard under the same title
// is a second instance; the first answers requests over its socket; the folder and
// the lock file keep other users out. The guard's places are folders of the test's
// own, except where a test says otherwise.

#include "SingleInstance.h"
#include "EventPump.h"
#include "FullDisk.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cantavel {
namespace {

using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

qint64 steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void makeFolder(const QString& path, mode_t mode) {
    ASSERT_TRUE(QDir().mkpath(path)) << path.toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// A process of user nobody: runs body, which reports one character, and then (when
// asked to stay) holds on to what it made until the test ends it.
class Stranger {
public:
    Stranger(const std::function<char()>& body, bool stay) {
        int report[2];
        if (::pipe2(report, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            char result = 'x';
            if (::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                ::setresuid(kNobody, kNobody, kNobody) == 0) {
                result = body();
            }
            (void)::write(report[1], &result, 1);
            while (stay) {
                ::pause();
            }
            ::_exit(0);
        }
        ::close(report[1]);
        report_ = report[0];
    }
    ~Stranger() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (report_ >= 0) {
            ::close(report_);
        }
    }
    Stranger(const Stranger&) = delete;
    Stranger& operator=(const Stranger&) = delete;

    // Its report, with this process's events served while it waits; 0 when none came.
    char report() {
        char result = 0;
        testing::pumpUntil([&] {
            pollfd ready{report_, POLLIN, 0};
            return ::poll(&ready, 1, 5) == 1 && ::read(report_, &result, 1) == 1;
        });
        return result;
    }

private:
    pid_t pid_ = -1;
    int report_ = -1;
};

sockaddr_un abstractAddress(const QByteArray& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), static_cast<std::size_t>(name.size()));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

class Guard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // A title of this test's own keeps it apart from any other instance.
        qApp->setProperty("ApplicationTitle",
                          QStringLiteral("guard test %1").arg(QCoreApplication::applicationPid()));
        // A home as users have it: open to look into down to .local/state.
        home = dir.filePath(QStringLiteral("home"));
        makeFolder(home + QStringLiteral("/.local/state"), 0755);
        makeFolder(home + QStringLiteral("/.local"), 0755);
        makeFolder(home, 0755);
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        runtime = dir.filePath(QStringLiteral("run"));
        makeFolder(runtime, 0700);
        TXJustOne::setPlacesForTesting(TXJustOne::Places{home, runtime});
    }
    void TearDown() override {
        TXJustOne::setPlacesForTesting(std::nullopt);
        qApp->setProperty("ApplicationTitle", QVariant());
    }
    QString guardFolder() const { return home + QStringLiteral("/.local/state/cantavel"); }
    QString lockPath() const {
        return guardFolder() + QLatin1Char('/') +
               TXJustOne::lockFileName(TXJustOne::applicationTitle());
    }
    // A path names a socket file, anything else an abstract socket.
    static std::unique_ptr<QLocalSocket> connectTo(const QString& name) {
        auto socket = std::make_unique<QLocalSocket>();
        if (!name.startsWith(QLatin1Char('/'))) {
            socket->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        }
        socket->connectToServer(name);
        EXPECT_TRUE(socket->waitForConnected(2000));
        return socket;
    }

    // Short, so that the socket's path beside the lock file fits a socket address.
    QTemporaryDir dir{QStringLiteral("/tmp/g-XXXXXX")};
    QString home;
    QString runtime;
};

TEST_F(Guard, FirstHoldsTheLockSecondIsRefusedAndTold) {
    QWidget firstWindow;
    TXJustOne first(&firstWindow);
    EXPECT_TRUE(first.SwitchToPrevious());
    first.Loaded();
    EXPECT_TRUE(first.MutexHeld());
    EXPECT_FALSE(first.IsSecondInstance());
    EXPECT_EQ(first.Result(), TXJustOne::Outcome::First);
    EXPECT_EQ(first.LockPath(), lockPath());

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
    EXPECT_EQ(second.Result(), TXJustOne::Outcome::NotAsked);
    EXPECT_TRUE(second.MutexHeld()) << "set once the check is done, whatever its outcome";
    EXPECT_EQ(told, 1);
    EXPECT_EQ(terminations, 1);
}

// A clean exit removes the lock file, and the files of killed instances of other
// guards that nobody holds; a file another guard holds stays.
TEST_F(Guard, ACleanExitLeavesNoLockFileOfItsOwnOrOfKilledInstances) {
    const QByteArray instance = qgetenv("CANTAVEL_INSTANCE");
    const auto lockPathOf = [&](const QByteArray& other) {
        qputenv("CANTAVEL_INSTANCE", other);
        const QString path = lockPath();
        qputenv("CANTAVEL_INSTANCE", instance);
        return path;
    };
    QWidget otherWindow;
    TXJustOne other(&otherWindow);
    qputenv("CANTAVEL_INSTANCE", instance + " other");
    other.Loaded();
    qputenv("CANTAVEL_INSTANCE", instance);
    ASSERT_EQ(other.Result(), TXJustOne::Outcome::First);
    ASSERT_EQ(other.LockPath(), lockPathOf(instance + " other"));
    {
        QWidget window;
        TXJustOne first(&window);
        first.Loaded();
        ASSERT_EQ(first.Result(), TXJustOne::Outcome::First);
        ASSERT_TRUE(QFile::exists(lockPath()));
        QFile killed(lockPathOf(instance + " killed"));
        ASSERT_TRUE(killed.open(QIODevice::WriteOnly));
        killed.write("cantavel-00000000000000000000000000000000\n");
        // A killed holder's socket file whose lock file is gone already.
        const QByteArray orphan =
            QFile::encodeName(lockPathOf(instance + " orphan").chopped(5)) + ".sock";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, orphan.constData(), static_cast<std::size_t>(orphan.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    EXPECT_FALSE(QFile::exists(lockPath()));
    EXPECT_FALSE(QFile::exists(lockPathOf(instance + " killed")));
    EXPECT_EQ(QDir(guardFolder()).entryList(QDir::System | QDir::Files),
              (QStringList{QFileInfo(other.LockPath()).fileName(),
                           QFileInfo(other.ServerName()).fileName()}))
        << "no socket file of the first's, of the killed or of the orphan";
    EXPECT_TRUE(QFile::exists(other.LockPath())) << "held by a running guard";

    QWidget window;
    TXJustOne next(&window);
    next.RequestTerminate = [] { FAIL() << "the next start is the first instance"; };
    next.Loaded();
    EXPECT_EQ(next.Result(), TXJustOne::Outcome::First);
}

// The holder's socket is a file beside the lock file, where no other user reaches
// it; where that path is too long for a socket, an abstract socket with a random
// name. A home on a full disk (the name cannot be written into the lock file) is let
// go for the runtime folder: a stranger who fills the disk once switched the guard off.
TEST_F(Guard, TheSocketLiesBesideTheLockOrHasARandomNameAndAFullDiskMovesOn) {
    testing::FullDisk disk;
    const QString deep = dir.filePath(QStringLiteral("a-home-folder-deep-enough-that-the-"
                                                     "socket-path-does-not-fit"));
    makeFolder(deep + QStringLiteral("/.local/state"), 0755);
    makeFolder(deep + QStringLiteral("/.local"), 0755);
    makeFolder(deep, 0755);
    enum Socket { BesideTheLock, Abstract, InTheRuntimeFolder };
    const std::pair<QString, Socket> cases[] = {
        {home, BesideTheLock},
        {deep, Abstract},
        {disk.valid() ? disk.path(QStringLiteral("home")) : QString(), InTheRuntimeFolder},
    };
    for (const auto& [where, socket] : cases) {
        if (where.isEmpty()) {
            continue; // a full disk needs root
        }
        SCOPED_TRACE(where.toStdString());
        if (socket == InTheRuntimeFolder) {
            makeFolder(where + QStringLiteral("/.local/state/cantavel"), 0700);
            makeFolder(where + QStringLiteral("/.local/state"), 0755);
            makeFolder(where + QStringLiteral("/.local"), 0755);
            makeFolder(where, 0755);
            ASSERT_TRUE(disk.fill());
        }
        TXJustOne::setPlacesForTesting(TXJustOne::Places{where, runtime});
        QWidget window;
        TXJustOne first(&window);
        first.Loaded();
        ASSERT_EQ(first.Result(), TXJustOne::Outcome::First) << first.ResultText().toStdString();
        const QString lock = first.LockPath();
        switch (socket) {
        case BesideTheLock:
            EXPECT_EQ(first.ServerName(), lock.chopped(5) + QStringLiteral(".sock"));
            EXPECT_EQ(QFileInfo(lock).path(), where + QStringLiteral("/.local/state/cantavel"));
            break;
        case Abstract:
            EXPECT_TRUE(first.ServerName().startsWith(QStringLiteral("cantavel-")));
            break;
        case InTheRuntimeFolder:
            EXPECT_EQ(QFileInfo(lock).path(), runtime);
            break;
        }
        const std::unique_ptr<QLocalSocket> client = connectTo(first.ServerName());
        client->write(TXJustOne::requestFor(QStringLiteral("/x.cfg"), steadyNow()));
        QByteArray answer;
        testing::pumpUntil([&] {
            answer += client->readAll();
            return answer.endsWith('\n');
        });
        EXPECT_EQ(answer, QByteArray(TXJustOne::kQueued));

        QWidget laterWindow;
        TXJustOne later(&laterWindow);
        later.SetSwitchToPrevious(false);
        later.RequestTerminate = [] {};
        later.Loaded();
        EXPECT_EQ(later.Result(), TXJustOne::Outcome::NotAsked) << "the same guard";
    }
}

TEST_F(Guard, RequestRestoresAMinimisedWindowAndAnswers) {
    QWidget window;
    window.resize(200, 100);
    TXJustOne first(&window);
    first.Loaded();
    window.showMinimized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(window.isMinimized());

    QFile lock(first.LockPath());
    ASSERT_TRUE(lock.open(QIODevice::ReadOnly));
    EXPECT_EQ(lock.readAll(), first.ServerName().toLatin1() + '\n') << "the name is in the file";
    const QString name = first.ServerName();
    std::atomic<bool> answered{false};
    std::thread second([&] {
        QLocalSocket socket;
        if (!name.startsWith(QLatin1Char('/'))) {
            socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        }
        socket.connectToServer(name);
        if (socket.waitForConnected(2000)) {
            socket.write(TXJustOne::kRequest);
            socket.waitForBytesWritten(2000);
            answered = socket.waitForReadyRead(3000) && socket.readAll() == TXJustOne::kAnswer;
        }
    });
    testing::pumpUntil([&] { return answered.load(); });
    second.join();
    EXPECT_TRUE(answered);
    EXPECT_FALSE(window.isMinimized());
}

TEST(GuardRequest, OnlyWellFormedRequestsAreTaken) {
    using R = std::optional<TXJustOne::Request>;
    const auto open = [](const QString& file, qint64 at) {
        return R(TXJustOne::Request{file, at});
    };
    const std::pair<QByteArray, R> cases[] = {
        {"raise\n", TXJustOne::Request{}},
        {"open 12 /home/op/a%20b.cfg\n", open("/home/op/a b.cfg", 12)},
        {"open 12 /home/op/a b.cfg\n", std::nullopt},    // not as a start sends it
        {"open 12 /home/op/%C1%C1.cfg\n", std::nullopt}, // not UTF-8
        {"open 0 /x\n", open("/x", 0)},
        {"open 9223372036854775807 /x\n", open("/x", 9223372036854775807)},
        {"open 9223372036854775808 /x\n", std::nullopt},
        {"open /x\n", std::nullopt},
        {"open 012 /x\n", std::nullopt},
        {"open -1 /x\n", std::nullopt},
        {"open +1 /x\n", std::nullopt},
        {"open 1  /x\n", std::nullopt},
        {"open 1 relative.cfg\n", std::nullopt},
        {"open 1 \n", std::nullopt},
        {"open 1\n", std::nullopt},
        {"raise", std::nullopt},
        {QByteArray("open 1 /a\0b\n", 12), std::nullopt},
        {"open 1 /a\nopen 2 /b\n", std::nullopt},
        {"OPEN 1 /x\n", std::nullopt},
        {"open 1 /" + QByteArray(TXJustOne::kMaxRequest, 'a') + "\n", std::nullopt},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(TXJustOne::parseRequest(line), expected) << line.left(40).constData();
    }
    // Any name a file can have goes over: a line's end once made it "not answered".
    for (const QString& path :
         {QStringLiteral("/tmp/Prés ets/a.cfg"), QStringLiteral("/tmp/new\nline%0A.cfg")}) {
        const QByteArray request = TXJustOne::requestFor(path, 123456789);
        EXPECT_EQ(request.count('\n'), 1);
        EXPECT_EQ(TXJustOne::parseRequest(request), open(path, 123456789));
    }
    EXPECT_EQ(TXJustOne::parseRequest(TXJustOne::requestFor({}, 5)), TXJustOne::Request{});
}

// Garbage, an over-long message and a client that never finishes are hung up on,
// and none of them keeps a good request waiting.
TEST_F(Guard, BadClientsAreDroppedAndAGoodRequestStillQueuesItsFile) {
    QWidget window;
    TXJustOne first(&window);
    first.RequestTimeoutMs = 200;
    int handedOver = 0;
    first.OnHandOver = [&] { ++handedOver; };
    first.Loaded();
    ASSERT_FALSE(first.IsSecondInstance());

    const QByteArray requests[] = {
        "hello\n", "open 1 /" + QByteArray(TXJustOne::kMaxRequest + 10, 'a'), "",
        "open 1 /half-said", TXJustOne::requestFor(QStringLiteral("/good/one.cfg"), steadyNow())};
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (const QByteArray& request : requests) {
        clients.push_back(connectTo(first.ServerName()));
        clients.back()->write(request);
        clients.back()->flush();
    }
    const auto allGone = [&] {
        return std::all_of(clients.begin(), clients.end(), [](const auto& c) {
            return c->state() == QLocalSocket::UnconnectedState;
        });
    };
    EXPECT_TRUE(testing::pumpUntil(allGone, 3s)) << "the good one is hung up on once answered";
    EXPECT_EQ(handedOver, 1);
    EXPECT_EQ(clients.back()->readAll(), QByteArray(TXJustOne::kQueued));
    EXPECT_EQ(first.TakeHandedOver().newest, QStringLiteral("/good/one.cfg"));
}

// The start that began last wins, whatever order its request arrives in; a start
// that has already given up (its editor was stopped meanwhile) is not served late;
// and however many files arrive, what is kept stays small.
TEST_F(Guard, TheLatestStartsFileWaitsOlderOnesAreDeclinedAndCounted) {
    QWidget window;
    TXJustOne first(&window);
    first.Loaded();
    ASSERT_EQ(first.Result(), TXJustOne::Outcome::First);

    const qint64 now = steadyNow();
    const qint64 second = 1'000'000'000;
    const std::pair<QByteArray, QByteArray> exchanges[] = {
        {TXJustOne::requestFor(QStringLiteral("/a.cfg"), now - 2 * second), "queued\n"},
        {TXJustOne::requestFor(QStringLiteral("/b.cfg"), now - 2 * second - 1),
         "declined: superseded by /a.cfg\n"},
        {TXJustOne::requestFor(QStringLiteral("/c.cfg"), now - second), "queued\n"},
        {TXJustOne::requestFor(QStringLiteral("/c.cfg"), now - 2 * second), "queued\n"},
        {TXJustOne::requestFor(QStringLiteral("/given-up.cfg"), now - 60 * second), ""},
        {TXJustOne::kRequest, "raised\n"},
    };
    for (const auto& [request, expected] : exchanges) {
        SCOPED_TRACE(request.constData());
        const std::unique_ptr<QLocalSocket> client = connectTo(first.ServerName());
        client->write(request);
        QByteArray answer;
        testing::pumpUntil([&] {
            answer += client->readAll();
            return client->state() == QLocalSocket::UnconnectedState;
        });
        EXPECT_EQ(answer, expected);
    }
    TXJustOne::HandedOver taken = first.TakeHandedOver();
    EXPECT_EQ(taken.newest, QStringLiteral("/c.cfg"));
    EXPECT_EQ(taken.others, 2) << "the same file twice is one that opens";
    EXPECT_EQ(taken.othersNamed, (QStringList{"/b.cfg", "/a.cfg"}));
    EXPECT_FALSE(first.HasHandedOver());

    const int flood = 170'000;
    for (int i = 0; i < flood; ++i) {
        const bool older = i % 2 == 1;
        (void)first.HandOver(QStringLiteral("/flood/%1.cfg").arg(i), older ? i - 10 : i);
    }
    taken = first.TakeHandedOver();
    EXPECT_EQ(taken.newest, QStringLiteral("/flood/%1.cfg").arg(flood - 2));
    EXPECT_EQ(taken.others, flood - 1);
    EXPECT_EQ(taken.othersNamed.size(), TXJustOne::kMaxNamed);
}

// Where the guard may keep its lock file: the home's private folder, else the
// runtime folder, else nowhere (and the editor runs unguarded). A folder or file
// that another user could have put there or could change is never used.
TEST_F(Guard, OnlyPrivateFoldersOfTheUserHoldTheLock) {
    enum Where { Home, Runtime, Nowhere };
    const QString folder = guardFolder();
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    const auto chown = [](const QString& path) {
        return ::lchown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0;
    };
    const auto link = [](const QString& target, const QString& path) {
        return QFile::link(target, path);
    };
    struct Case {
        const char* what;
        bool needsRoot;
        std::function<bool()> arrange;
        Where where;
    };
    const Case cases[] = {
        {"nothing made yet", false, [] { return true; }, Home},
        {"own folder open to others: closed", false,
         [&] {
             return QDir().mkdir(folder) &&
                    ::chmod(QFile::encodeName(folder).constData(), 0755) == 0;
         },
         Home},
        {"folder is a link", false,
         [&] {
             return QDir().mkdir(elsewhere) &&
                    ::chmod(QFile::encodeName(elsewhere).constData(), 0700) == 0 &&
                    link(elsewhere, folder);
         },
         Runtime},
        {"lock file is a link", false,
         [&] {
             return QDir().mkdir(folder) && QFile(elsewhere).open(QIODevice::WriteOnly) &&
                    link(elsewhere, lockPath());
         },
         Runtime},
        {"lock file is a folder", false, [&] { return QDir().mkpath(lockPath()); }, Runtime},
        {"home open to others", false,
         [&] { return ::chmod(QFile::encodeName(home).constData(), 0777) == 0; }, Runtime},
        {"home missing", false, [&] { return QDir(home).removeRecursively(); }, Runtime},
        {"folder of another user", true,
         [&] {
             return QDir().mkdir(folder) &&
                    ::chmod(QFile::encodeName(folder).constData(), 0700) == 0 && chown(folder);
         },
         Runtime},
        {"home of another user", true, [&] { return chown(home); }, Runtime},
        {"no home, runtime open to others", false,
         [&] {
             return QDir(home).removeRecursively() &&
                    ::chmod(QFile::encodeName(runtime).constData(), 0711) == 0;
         },
         Nowhere},
        {"no home, runtime of another user", true,
         [&] { return QDir(home).removeRecursively() && chown(runtime); }, Nowhere},
        {"no home, runtime is a link", false,
         [&] {
             return QDir(home).removeRecursively() && QDir(runtime).removeRecursively() &&
                    QDir().mkdir(elsewhere) &&
                    ::chmod(QFile::encodeName(elsewhere).constData(), 0700) == 0 &&
                    link(elsewhere, runtime);
         },
         Nowhere},
        {"no home, no runtime", false,
         [&] { return QDir(home).removeRecursively() && QDir(runtime).removeRecursively(); },
         Nowhere},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && ::geteuid() != 0) {
            continue;
        }
        TearDown();
        ASSERT_TRUE(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()));
        SetUp();
        ASSERT_TRUE(c.arrange());

        QWidget window;
        auto guard = std::make_unique<TXJustOne>(&window);
        guard->RequestTerminate = [] { FAIL() << "an unusable folder never ends the start"; };
        guard->Loaded();
        EXPECT_FALSE(guard->IsSecondInstance());
        switch (c.where) {
        case Home:
            EXPECT_EQ(guard->Result(), TXJustOne::Outcome::First);
            EXPECT_EQ(guard->LockPath(), lockPath());
            EXPECT_EQ(modeOf(folder), 0700u);
            EXPECT_EQ(modeOf(lockPath()) & 077, 0u);
            break;
        case Runtime:
            EXPECT_EQ(guard->Result(), TXJustOne::Outcome::First);
            EXPECT_EQ(QFileInfo(guard->LockPath()).path(), runtime);
            break;
        case Nowhere:
            EXPECT_EQ(guard->Result(), TXJustOne::Outcome::Unguarded);
            EXPECT_TRUE(guard->LockPath().isEmpty());
            EXPECT_FALSE(guard->ResultText().isEmpty()) << "says why";
            break;
        }
        EXPECT_EQ(QFileInfo(elsewhere).isFile() ? QFileInfo(elsewhere).size() : 0, 0)
            << "nothing written through a link";
        const QString used = guard->LockPath();
        guard.reset();
        EXPECT_TRUE(used.isEmpty() || !QFile::exists(used)) << "removed at a clean exit";
    }
}

// Another user can read every socket name in /proc/net/unix and bind any abstract
// name, but can neither read the lock file, nor reach the first instance's socket (a
// file in the private folder) or get an answer from it (an abstract one, where the
// folder's path is too long), nor (by binding a name a killed holder left in the lock
// file, with a full backlog) keep the next start from being the first or make it run
// unguarded. Needs root, to run the stranger as user nobody.
TEST_F(Guard, AnotherUsersProcessCannotReadBlockOrUnguard) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "running a process as another user needs root";
    }
    const QString deep = dir.filePath(QStringLiteral("a-home-folder-deep-enough-that-the-"
                                                     "socket-path-does-not-fit"));
    makeFolder(deep, 0755);
    for (const auto& [where, reached] : {std::pair{home, 'c'}, std::pair{deep, 'h'}}) {
        SCOPED_TRACE(where.toStdString());
        TXJustOne::setPlacesForTesting(TXJustOne::Places{where, runtime});
        QWidget window;
        window.showMinimized();
        TXJustOne first(&window);
        first.Loaded();
        ASSERT_EQ(first.Result(), TXJustOne::Outcome::First);
        const QByteArray server = QFile::encodeName(first.ServerName());
        const QByteArray lockFile = QFile::encodeName(first.LockPath());

        Stranger reader(
            [&] {
                const int fd = ::open(lockFile.constData(), O_RDONLY | O_CLOEXEC);
                return fd < 0 && errno == EACCES ? 'd' : 'r';
            },
            false);
        EXPECT_EQ(reader.report(), 'd') << "the stranger cannot open the lock file";

        Stranger asker(
            [&] {
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                socklen_t length = 0;
                if (server.startsWith('/')) {
                    std::memcpy(address.sun_path, server.constData(),
                                static_cast<std::size_t>(server.size()));
                    length = sizeof address;
                } else {
                    address = abstractAddress(server, length);
                }
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
                    return 'c';
                }
                const QByteArray request = TXJustOne::requestFor(QStringLiteral("/x"), steadyNow());
                (void)::write(fd, request.constData(), static_cast<std::size_t>(request.size()));
                char answer[64];
                return ::read(fd, answer, sizeof answer) > 0 ? 'a' : 'h'; // answered or hung up
            },
            false);
        EXPECT_EQ(asker.report(), reached) << "c: cannot connect, h: hung up on";
        testing::handlePending();
        EXPECT_TRUE(window.isMinimized());
        EXPECT_FALSE(first.HasHandedOver());
    }
    TXJustOne::setPlacesForTesting(TXJustOne::Places{home, runtime});

    // A killed holder left the name of its abstract socket in the lock file; the
    // stranger binds that name and fills its backlog.
    const QByteArray oldName = "cantavel-0123456789abcdef0123456789abcdef";
    Stranger squatter(
        [&] {
            socklen_t length = 0;
            const sockaddr_un address = abstractAddress(oldName, length);
            const auto* at = reinterpret_cast<const sockaddr*>(&address);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::bind(fd, at, length) != 0 || ::listen(fd, 0) != 0) {
                return 'n';
            }
            for (int i = 0; i < 64; ++i) {
                const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                if (::connect(client, at, length) != 0) {
                    return errno == EAGAIN ? 'f' : 'e'; // full, or something else
                }
            }
            return 'o';
        },
        true);
    ASSERT_EQ(squatter.report(), 'f');
    {
        makeFolder(guardFolder(), 0700);
        QFile leftOver(lockPath());
        ASSERT_TRUE(leftOver.open(QIODevice::WriteOnly));
        leftOver.write(oldName + '\n');
    }

    QElapsedTimer took;
    took.start();
    QWidget window;
    TXJustOne next(&window);
    next.RequestTerminate = [] { FAIL() << "the next start is the first instance"; };
    next.Loaded();
    EXPECT_LT(took.elapsed(), 1000) << "not kept waiting";
    EXPECT_EQ(next.Result(), TXJustOne::Outcome::First);
    EXPECT_NE(next.ServerName().toLatin1(), oldName);

    QWidget laterWindow;
    TXJustOne later(&laterWindow);
    later.SetSwitchToPrevious(false);
    later.RequestTerminate = [] {};
    later.Loaded();
    EXPECT_EQ(later.Result(), TXJustOne::Outcome::NotAsked) << "guarded";
}

} // namespace
} // namespace cantavel
