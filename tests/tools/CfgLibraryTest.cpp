// cantavel-cfg library, as a script uses it: on a library of its own, beside an
// editor that may hold the same index.

#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace cantavel {
namespace {

class CfgLibrary : public ::testing::Test {
protected:
    QTemporaryDir home;
    QString presets = home.filePath(QStringLiteral("presets"));
    QString data = home.filePath(QStringLiteral("data"));

    testing::ToolRun cfg(const QStringList& args) {
        return testing::runTool(
            QStringLiteral(CANTAVEL_CFG_PATH), args,
            {QStringLiteral("cantavel-cfg:"), QStringLiteral("Try ")}, {},
            {QStringLiteral("HOME=") + home.path(), QStringLiteral("XDG_DATA_HOME=") + data});
    }
    testing::ToolRun library(QStringList args) {
        args.prepend(QStringLiteral("library"));
        return cfg(args);
    }

    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(presets));
        const QString live = QDir(presets).filePath(QStringLiteral("live.cfg"));
        ASSERT_EQ(cfg({QStringLiteral("new"), live}).status, 0);
        ASSERT_EQ(
            cfg({QStringLiteral("new"), QDir(presets).filePath(QStringLiteral("calm.cfg"))}).status,
            0);
        ASSERT_EQ(cfg({QStringLiteral("set"), live, QStringLiteral("mode-a.delay=230"),
                       QStringLiteral("3.key=#+2")})
                      .status,
                  0);
        ASSERT_EQ(library({QStringLiteral("add"), presets}).status, 0);
        ASSERT_EQ(library({QStringLiteral("scan")}).status, 0);
    }

    // The JSON search's slots as "file name:slot".
    QStringList search(const QString& query) {
        const testing::ToolRun run =
            library({QStringLiteral("search"), query, QStringLiteral("--json")});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        QStringList found;
        for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array()) {
            found << QStringLiteral("%1:%2").arg(
                QFileInfo(v[QStringLiteral("file")].toString()).fileName(),
                v[QStringLiteral("slot")].toString());
        }
        return found;
    }
};

TEST_F(CfgLibrary, SearchesByValueAndTagWithTextTakenAsText) {
    EXPECT_EQ(search(QStringLiteral("delay>=200")), QStringList{"live.cfg:mode-a"});
    EXPECT_EQ(search(QStringLiteral("key=#+2 live")), QStringList{"live.cfg:3"});
    const QString drop = QStringLiteral("'; DROP TABLE files; --");
    EXPECT_EQ(library({QStringLiteral("tag"), QDir(presets).filePath(QStringLiteral("calm.cfg")),
                       QStringLiteral("Mode B"), QStringLiteral("ballad"), drop})
                  .status,
              0);
    EXPECT_EQ(search(QStringLiteral("tag:ballad")), QStringList{"calm.cfg:mode-b"});
    EXPECT_EQ(search(QStringLiteral("drop")), QStringList{"calm.cfg:mode-b"});
    EXPECT_EQ(search(QStringLiteral("")).size(), 14);
    EXPECT_EQ(library({QStringLiteral("untag"), QDir(presets).filePath(QStringLiteral("calm.cfg")),
                       QStringLiteral("mode-b"), QStringLiteral("BALLAD")})
                  .status,
              0);
    EXPECT_TRUE(search(QStringLiteral("tag:ballad")).isEmpty());
    // A term that begins with '-' needs no "--" before it.
    const testing::ToolRun negated =
        library({QStringLiteral("search"), QStringLiteral("-mode"), QStringLiteral("-tag:x"),
                 QStringLiteral("delay>=200")});
    EXPECT_EQ(negated.status, 0) << negated.err.toStdString();
    EXPECT_TRUE(negated.out.contains(QStringLiteral("live.cfg\tmode-a")));

    // Not understood: status 2 and one line, whatever its size.
    for (const QStringList& query :
         {QStringList{QStringLiteral("dealy>=200")}, QStringList{QStringLiteral("is:loud")},
          QStringList(10, QString(100'000, QLatin1Char('a')))}) {
        const testing::ToolRun run = library(QStringList{QStringLiteral("search")} + query);
        EXPECT_EQ(run.status, 2);
        ASSERT_FALSE(run.errLines.isEmpty());
        EXPECT_LT(run.errLines.front().size(), 200);
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_EQ(library({QStringLiteral("tag"), QStringLiteral("nowhere.cfg"), QStringLiteral("1"),
                       QStringLiteral("x")})
                  .status,
              1);
    EXPECT_EQ(library({QStringLiteral("frobnicate")}).status, 2);
}

// A broken index goes aside, and the scan builds a new one from the folders.
TEST_F(CfgLibrary, AScanMeetingABrokenIndexMovesItAsideAndGoesOn) {
    const QString db = QDir(data).filePath(QStringLiteral("Varnholt/Cantavel/library.sqlite"));
    ASSERT_TRUE(QFile::exists(db));
    QFile f(db);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(4096, 'x'));
    f.close();
    const testing::ToolRun run = library({QStringLiteral("scan")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.err.contains(QStringLiteral("moved aside"))) << run.err.toStdString();
    const QStringList aside =
        QDir(QFileInfo(db).path()).entryList({QStringLiteral("library.sqlite.broken-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(QFileInfo(QFileInfo(db).dir().filePath(aside[0])).size(), 4096);
    EXPECT_EQ(search(QStringLiteral("delay>=200")), QStringList{"live.cfg:mode-a"});
}

} // namespace
} // namespace cantavel
