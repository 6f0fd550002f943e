// The virtual unit as a program: started as a process, it names its port, decodes
// what is written there, and answers "state".

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

class UnitProcess : public ::testing::Test {
protected:
    void start(const QStringList& args = {}) {
        unit.start(QStringLiteral(CANTAVEL_UNIT_PATH), args);
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(waitForLine("port: "));
        port = lastLine.mid(6);
    }

    // Reads lines until one starts with prefix; keeps them all in output.
    bool waitForLine(const QString& prefix, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            while (unit.canReadLine()) {
                lastLine = QString::fromUtf8(unit.readLine()).trimmed();
                output << lastLine;
                if (lastLine.startsWith(prefix)) {
                    return true;
                }
            }
            unit.waitForReadyRead(100);
        }
        return false;
    }

    void sendToPort(const QByteArray& bytes) {
        const int fd = ::open(QFile::encodeName(port).constData(), O_WRONLY | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
        ::close(fd);
    }

    void TearDown() override {
        if (unit.state() != QProcess::NotRunning) {
            unit.terminate();
            unit.waitForFinished(3000);
        }
    }

    QProcess unit;
    QString port;
    QString lastLine;
    QStringList output;
};

TEST_F(UnitProcess, DecodesWhatArrivesAtItsPort) {
    start({QStringLiteral("--quiet")});
    EXPECT_TRUE(port.startsWith(QStringLiteral("/dev/pts/")));
    sendToPort(QByteArray::fromHex("260064"));
    EXPECT_TRUE(waitForLine(QStringLiteral("live 0 echoDelay = 100")));
    // The editor closes the port between uploads; the unit keeps listening.
    sendToPort(QByteArray::fromHex("250055000a0a0a0a0ab428281405"
                                   "0a0a0a6437"));
    EXPECT_TRUE(waitForLine(QStringLiteral("preset upload slot 1 (index 0): 55 00 0A")));
    unit.write("state\n");
    EXPECT_TRUE(waitForLine(QStringLiteral("Default mode:")));
    unit.write("quit\n");
    EXPECT_TRUE(unit.waitForFinished(3000));
    EXPECT_EQ(unit.exitCode(), 0);
}

TEST_F(UnitProcess, LinkPointsAtThePortAndGoesAtExit) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyCANTAVEL"));
    start({QStringLiteral("--link"), link});
    EXPECT_TRUE(waitForLine(QStringLiteral("link: ")));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), port);
    unit.terminate();
    ASSERT_TRUE(unit.waitForFinished(3000));
    EXPECT_FALSE(QFileInfo::exists(link));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST_F(UnitProcess, UnknownArgumentIsOneErrorAndStatus2) {
    unit.start(QStringLiteral(CANTAVEL_UNIT_PATH), {QStringLiteral("--bogus")});
    ASSERT_TRUE(unit.waitForFinished(3000));
    EXPECT_EQ(unit.exitCode(), 2);
    EXPECT_TRUE(unit.readAllStandardError().contains("unknown argument '--bogus'"));
}

} // namespace
