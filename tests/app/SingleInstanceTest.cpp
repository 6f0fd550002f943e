// Real processes of the editor (offscreen), with the guard in the user's real home:
// a second start hands over to the first and ends, whatever its environment; a start
// after the first is gone runs normally; one that cannot reach the first says so.
// Then a burst of real starts handing files to a window whose question is open.

#include "SingleInstance.h"
#include "AppInfo.h"
#include "ConfigFile.h"
#include "WindowFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <set>

#include <signal.h>

namespace cantavel {
namespace {

using namespace std::chrono_literals;

class TwoStarts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // A copy of the editor of the test's own, which keeps its settings in a
        // configuration folder of the test's own.
        binary = dir.filePath(QStringLiteral("cantavel"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(CANTAVEL_EDITOR_PATH), binary));
        ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("run"))));
        QFile::setPermissions(dir.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                       QFileDevice::WriteOwner |
                                                                       QFileDevice::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        // Editors of this test's own: a guard apart from other tests and editors.
        const QString instance = QStringLiteral("%1 %2").arg(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()),
            QString::number(QCoreApplication::applicationPid()));
        env.insert(QStringLiteral("CANTAVEL_INSTANCE"), instance);
        qputenv("CANTAVEL_INSTANCE", instance.toUtf8());
        // The lock file every editor of this instance meets.
        lock = TXJustOne::guardFolder() + QLatin1Char('/') +
               TXJustOne::lockFileName(QStringLiteral("Digital Cantavel Processor v1.5"));
    }
    void TearDown() override {
        for (QProcess* p : {&first, &second}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        QFile::remove(lock); // a killed editor leaves it, and its socket
        QFile::remove(lock.chopped(5) + QStringLiteral(".sock"));
    }

    void start(QProcess& p, const QProcessEnvironment& environment) {
        p.setProcessEnvironment(environment);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(binary, {});
        ASSERT_TRUE(p.waitForStarted(5000));
    }
    void start(QProcess& p) { start(p, env); }
    // A path names a socket file, anything else an abstract socket.
    static bool connect(QLocalSocket& s, const QString& name, int ms) {
        if (!name.startsWith(QLatin1Char('/'))) {
            s.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        }
        s.connectToServer(name);
        return s.waitForConnected(ms);
    }
    // The name the first instance listens on, as it wrote it into the lock file.
    QString serverName() const {
        QFile file(lock);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed())
                                              : QString();
    }
    bool waitForServer(int ms = 10000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QLocalSocket probe;
            if (connect(probe, serverName(), 100)) {
                return true;
            }
            QThread::msleep(10);
        }
        return false;
    }
    QString settings() const {
        return dir.filePath(QStringLiteral("config/Varnholt/Cantavel/cantavel.ini"));
    }

    QTemporaryDir dir;
    QString binary;
    QString lock;
    QProcessEnvironment env;
    QProcess first;
    QProcess second;
};

TEST_F(TwoStarts, SecondStartHandsOverAndEndsWithoutAWindowOrSettings) {
    start(first);
    ASSERT_TRUE(waitForServer()) << first.readAll().toStdString();

    QElapsedTimer took;
    took.start();
    start(second);
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_LT(took.elapsed(), 4000);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(settings())) << "the second start ran no close handler";
    EXPECT_EQ(first.state(), QProcess::Running);

    // The first instance answers a request to come to the front.
    QLocalSocket ask;
    ASSERT_TRUE(connect(ask, serverName(), 2000));
    ask.write(TXJustOne::kRequest);
    ASSERT_TRUE(ask.waitForReadyRead(2000));
    EXPECT_EQ(ask.readAll(), QByteArray(TXJustOne::kAnswer));
}

// Once the guard lived in the runtime (or else the temporary) folder, and a start
// without XDG_RUNTIME_DIR, or with another TMPDIR, ran a second editor; the home and
// state folders the environment names move nothing either.
TEST_F(TwoStarts, EveryStartOfTheSameUserMeetsTheSameGuard) {
    QProcessEnvironment firstEnv = env;
    firstEnv.insert(QStringLiteral("TMPDIR"), dir.path());
    start(first, firstEnv);
    ASSERT_TRUE(waitForServer()) << first.readAll().toStdString();

    QProcessEnvironment otherEnv = env;
    otherEnv.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    otherEnv.insert(QStringLiteral("TMPDIR"), QStringLiteral("/var/tmp"));
    otherEnv.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("run")));
    otherEnv.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("run")));
    start(second, otherEnv);
    ASSERT_TRUE(second.waitForFinished(5000)) << "the second start ends";
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("run"))).isEmpty()) << "nothing made there";
}

TEST_F(TwoStarts, StartAfterACrashedFirstInstanceRunsNormally) {
    start(first);
    ASSERT_TRUE(waitForServer());
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL); // leaves its lock and socket
    first.waitForFinished(3000);

    start(second);
    EXPECT_TRUE(waitForServer(5000)) << "the new start is the first instance now";
    EXPECT_EQ(second.state(), QProcess::Running) << "and keeps running";
}

// A first instance that is stopped (or hung) holds the guard but answers nothing: a
// later start must not end as if its file had been handed over.
TEST_F(TwoStarts, AStartThatCannotReachAStoppedFirstInstanceSaysSoAndFails) {
    start(first);
    ASSERT_TRUE(waitForServer());
    ::kill(static_cast<pid_t>(first.processId()), SIGSTOP);

    QElapsedTimer took;
    took.start();
    second.setProcessEnvironment(env);
    second.start(binary, {dir.filePath(QStringLiteral("x.cfg"))});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_LT(took.elapsed(), 6000);
    EXPECT_EQ(second.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
    EXPECT_TRUE(err.startsWith(QStringLiteral("cantavel: the running editor did not answer")))
        << err.toStdString();
    EXPECT_TRUE(err.contains(dir.filePath(QStringLiteral("x.cfg")))) << err.toStdString();
    ::kill(static_cast<pid_t>(first.processId()), SIGCONT);
}

// ---------------------------------------------------------------------------------
// Files handed over while the operator has a question open

// Fifty real later starts, each with a file, while this window (the first instance)
// asks about unsaved changes: each start learns at once whether its file waits or
// was superseded; once the question is answered the latest start's file opens (after
// its own question), and one message accounts for all the others.
class HandOverBurst : public testing::WindowTest {
protected:
    // The editor's title, which its starts key their guard on.
    void SetUp() override {
        qApp->setProperty("ApplicationTitle", applicationTitle());
        WindowTest::SetUp();
    }
    void TearDown() override { qApp->setProperty("ApplicationTitle", QVariant()); }
    QString file(int i) const {
        return dir.filePath(QStringLiteral("handed-%1.cfg").arg(i, 2, 10, QLatin1Char('0')));
    }
};

TEST_F(HandOverBurst, FiftyStartsDuringAQuestionOpenTheLatestAndNameEveryOther) {
    ASSERT_EQ(form->Guard().Result(), TXJustOne::Outcome::First);
    constexpr int kStarts = 50;
    constexpr int kAtOnce = 4;
    std::set<QString> ours;
    for (int i = 0; i < kStarts; ++i) {
        ConfigRecord r;
        r.resetToDefaults();
        r.preset(0).echoDelay = static_cast<std::uint8_t>(i + 1);
        ASSERT_TRUE(saveConfigFile(file(i), r).ok);
        ours.insert(file(i));
    }
    // This process's CANTAVEL_INSTANCE: the window is their first instance.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString run = dir.filePath(QStringLiteral("run"));
    ASSERT_TRUE(QDir().mkdir(run));
    QFile::setPermissions(run,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);

    std::vector<std::unique_ptr<QProcess>> starts;
    const auto launch = [&](int i) {
        starts.push_back(std::make_unique<QProcess>());
        starts.back()->setProcessEnvironment(env);
        starts.back()->start(QStringLiteral(CANTAVEL_EDITOR_PATH), {file(i)});
    };
    const auto running = [&] {
        return std::count_if(starts.begin(), starts.end(),
                             [](const auto& p) { return p->state() != QProcess::NotRunning; });
    };
    dialogs.saveAnswers = {EditorDialogs::Answer::Cancel}; // to the question open meanwhile
    dialogs.whileAsking = [&] {
        for (int i = 0; i < kStarts - 1;) {
            if (running() < kAtOnce) {
                launch(i++);
            } else {
                QTest::qWait(5);
            }
        }
        ASSERT_TRUE(testing::pumpUntil([&] { return running() == 0; }, 120s));
        launch(kStarts - 1); // begun after every other has ended: the latest
        ASSERT_TRUE(testing::pumpUntil([&] { return running() == 0; }, 30s));
    };
    child<QSlider>("TrackBar11")->setValue(100); // unsaved work
    action("New1")->trigger();
    ASSERT_EQ(starts.size(), std::size_t{kStarts});
    ASSERT_TRUE(testing::pumpUntil([&] { return !dialogs.messages.empty(); }, 10s));

    const QRegularExpression declined(QStringLiteral(
        "^cantavel: (.+) was not opened: (.+), handed over by a later start, supersedes it\n$"));
    for (int i = 0; i < kStarts; ++i) {
        SCOPED_TRACE(i);
        QProcess& start = *starts[static_cast<std::size_t>(i)];
        EXPECT_EQ(start.exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromLocal8Bit(start.readAllStandardError());
        if (start.exitCode() == 0) {
            EXPECT_EQ(err, QString()) << "queued";
            continue;
        }
        EXPECT_EQ(start.exitCode(), 1);
        const QRegularExpressionMatch line = declined.match(err);
        ASSERT_TRUE(line.hasMatch()) << err.toStdString();
        EXPECT_EQ(line.captured(1), file(i));
        EXPECT_TRUE(ours.count(line.captured(2)) == 1 && line.captured(2) != file(i))
            << "superseded by another of the files handed over";
    }
    EXPECT_EQ(starts.back()->exitCode(), 0);

    EXPECT_EQ(state.currentFileName, file(kStarts - 1));
    EXPECT_EQ(record().preset(0).echoDelay, kStarts);
    EXPECT_EQ(dialogs.questions.size(), 2) << "the open question, then the file's own";
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("Only the newest of 50 files handed over was opened."));
    QStringList lines = dialogs.messages[0].detail.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.takeFirst(), QStringLiteral("Opened: ") + file(kStarts - 1));
    EXPECT_EQ(lines.takeFirst(), QStringLiteral("Not opened:"));
    const QString more = lines.takeLast();
    const QSet<QString> named(lines.begin(), lines.end());
    EXPECT_EQ(named.size(), lines.size()) << "each once";
    for (const QString& name : named) {
        EXPECT_TRUE(ours.count(name) == 1 && name != file(kStarts - 1)) << name.toStdString();
    }
    EXPECT_EQ(lines.size(), TXJustOne::kMaxNamed);
    EXPECT_EQ(more, QStringLiteral("and %1 more").arg(kStarts - 1 - lines.size()));
}

// A file handed over is never dropped without a word: Cancel on the question it
// raised keeps out every file handed over meanwhile (and asks no more), the operator's
// own Open is newer than a file still waiting, and a window that is closing declines
// new files at once and names the ones that waited.
TEST_F(HandOverBurst, FilesThatCancelTheOperatorsOpenOrClosingLeaveUnopenedAreNamed) {
    ASSERT_EQ(form->Guard().Result(), TXJustOne::Outcome::First);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(saveConfigFile(file(i), record()).ok);
    }
    const auto named = [&](std::initializer_list<int> files) {
        QStringList names;
        for (const int i : files) {
            names << file(i);
        }
        return names;
    };
    const auto unsaved = [&] {
        child<QSlider>("TrackBar11")->setValue(90 + dialogs.questions.size());
    };

    unsaved();
    dialogs.saveAnswers = {EditorDialogs::Answer::Cancel};
    dialogs.whileAsking = [&] { (void)form->HandOverFile(file(1), 2); };
    (void)form->HandOverFile(file(0), 1);
    ASSERT_TRUE(testing::pumpUntil([&] { return !dialogs.messages.empty(); }, 5s));
    testing::handlePending();
    EXPECT_FALSE(form->Guard().HasHandedOver()) << "nothing left waiting to be asked about";
    EXPECT_EQ(dialogs.questions.size(), 1) << "no question more after Cancel";
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("None of the 2 files handed over was opened."));
    EXPECT_EQ(dialogs.messages[0].detail,
              (QStringList{"The question about unsaved changes was cancelled.", "Not opened:"} +
               named({1, 0}))
                  .join('\n'));
    EXPECT_TRUE(state.currentFileName.isEmpty());

    dialogs.messages.clear();
    (void)form->HandOverFile(file(2), 3); // waits for the next turn of the event loop
    dialogs.answers << file(3);
    action("Open1")->trigger(); // the operator's own choice, made after it
    testing::handlePending();   // the next turn of the event loop, and more
    EXPECT_FALSE(form->Guard().HasHandedOver());
    EXPECT_EQ(state.currentFileName, file(3));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].detail,
              (QStringList{"You opened handed-03.cfg meanwhile.", "Not opened:"} + named({2}))
                  .join('\n'));

    dialogs.messages.clear();
    unsaved();
    (void)form->HandOverFile(file(4), 4);
    QByteArray answer;
    dialogs.whileAsking = [&] {
        QLocalSocket late;
        const QString server = form->Guard().ServerName();
        if (!server.startsWith('/')) {
            late.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        }
        late.connectToServer(server);
        ASSERT_TRUE(late.waitForConnected(2000));
        late.write(TXJustOne::requestFor(dir.filePath(QStringLiteral("late.cfg")),
                                         std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count()));
        testing::pumpUntil([&] {
            answer += late.readAll();
            return answer.endsWith('\n');
        });
    };
    form->close(); // asks about the unsaved work before file(4)'s turn came
    EXPECT_EQ(answer, QByteArray("declined: closing\n"));
    EXPECT_FALSE(form->isVisible());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("The file handed over was not opened."));
    EXPECT_EQ(dialogs.messages[0].detail,
              (QStringList{"The editor closed first.", "Not opened:"} + named({4})).join('\n'));
}

} // namespace
} // namespace cantavel
