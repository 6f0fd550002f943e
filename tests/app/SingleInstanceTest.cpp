// Real processes of the editor (offscreen), with the guard in the user's real home:
// a second start hands over to the first and ends, whatever its environment; a start
// after the first is gone runs normally; one that cannot reach the first says so.

#include "SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

namespace cantavel {
namespace {

class TwoStarts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // The editor keeps its settings beside itself: a copy of its own in a folder
        // of the test's own.
        binary = dir.filePath(QStringLiteral("cantavel"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(CANTAVEL_EDITOR_PATH), binary));
        ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("run"))));
        QFile::setPermissions(dir.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                       QFileDevice::WriteOwner |
                                                                       QFileDevice::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
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
        QFile::remove(lock); // a killed editor leaves it
    }

    void start(QProcess& p, const QProcessEnvironment& environment) {
        p.setProcessEnvironment(environment);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(binary, {});
        ASSERT_TRUE(p.waitForStarted(5000));
    }
    void start(QProcess& p) { start(p, env); }
    static bool connect(QLocalSocket& s, const QString& name, int ms) {
        s.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
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
            QThread::msleep(50);
        }
        return false;
    }
    QString settings() const { return dir.filePath(QStringLiteral("cantavel.ini")); }

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
    EXPECT_FALSE(second.waitForFinished(1500)) << "the new start keeps running";
    EXPECT_TRUE(waitForServer(5000)) << "and is the first instance now";
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

} // namespace
} // namespace cantavel
