// The file commands in their order of steps, over a fake window.
#include "support/TestFiles.h"
#include "targets/TargetFile.h"

#include "base/Cp932.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

class FakeWindow : public TargetDocumentHost {
public:
    QString text;
    bool modified = false;
    RunParameters params;
    QString caption;
    SaveAnswer answer = SaveAnswer::No;
    int questions = 0;
    QStringList errors, warnings;
    bool targetPageShown = false;
    bool saveConfigOn = true;

    QString editorText() const override { return text; }
    void setEditorText(const QString& t) override { text = t; }
    bool editorModified() const override { return modified; }
    void setEditorModified(bool m) override { modified = m; }
    RunParameters runParameters() const override { return params; }
    void setRunParameters(const RunParameters& p) override { params = p; }
    void setCaption(const QString& c) override { caption = c; }
    SaveAnswer askSaveChanges() override
    {
        ++questions;
        return answer;
    }
    void showError(const QString& m) override { errors << m; }
    void showWarning(const QString& m) override { warnings << m; }
    void showTargetPage() override { targetPageShown = true; }
    bool saveConfig() const override { return saveConfigOn; }
};



struct Fixture {
    QTemporaryDir dir;
    FakeWindow w;
    ManualClock clock;
    QString def = dir.filePath("Tarvok.def");
    TargetDocument doc{w, def, clock};
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

} // namespace

TEST(TargetFileCommands, StartupWithoutFilesAndExitWritesOnlyTheParameterFile)
{
    Fixture f;
    EXPECT_TRUE(f.doc.loadAtStartup());
    EXPECT_TRUE(f.w.text.isEmpty());
    EXPECT_EQ(f.w.caption, "Tarvok - Tarvok.def");
    EXPECT_TRUE(f.w.errors.isEmpty());
    f.doc.endOfProgram();
    EXPECT_TRUE(QFile::exists(f.def + ".#CONFIG#"));
    EXPECT_FALSE(QFile::exists(f.def));
}

TEST(TargetFileCommands, StartupReportsABadParameterFile)
{
    Fixture f;
    writeCp932(f.def, "host1\r\n");
    writeCp932(f.def + ".#CONFIG#", "PingCount=9\r\nPingWait=x1\r\n");
    f.w.modified = true;
    EXPECT_FALSE(f.doc.loadAtStartup());
    EXPECT_EQ(f.w.text, "host1\n");
    EXPECT_FALSE(f.w.modified);
    EXPECT_EQ(f.w.params.PingCount, 9);
    EXPECT_EQ(f.w.errors, QStringList{QStringLiteral("'x1' は整数ではありません")});
}

TEST(TargetFileCommands, OpenLoadsTextAndParameters)
{
    Fixture f;
    writeCp932(f.path("a.txt"), "one\r\ntwo\r\n");
    writeCp932(f.path("a.txt.#CONFIG#"), "Interval=10\r\n");
    f.w.modified = true;
    f.w.answer = SaveAnswer::No;
    EXPECT_TRUE(f.doc.open(f.path("a.txt")));
    EXPECT_EQ(f.w.questions, 1);
    EXPECT_EQ(f.w.text, "one\ntwo\n");
    EXPECT_EQ(f.w.params.Interval, 10);
    EXPECT_FALSE(f.w.params.Sorted);
    EXPECT_FALSE(f.w.modified);
    EXPECT_EQ(f.w.caption, "Tarvok - a.txt");
    EXPECT_EQ(f.doc.currentTargetFile(), f.path("a.txt"));
    EXPECT_FALSE(QFile::exists(f.def + ".#CONFIG#")); // the replaced text's parameters are not written
}

TEST(TargetFileCommands, OpenStopsSilently)
{
    Fixture f;
    f.w.text = "mine";
    // Cancel at the question.
    writeCp932(f.path("a.txt"), "other");
    f.w.modified = true;
    f.w.answer = SaveAnswer::Cancel;
    EXPECT_FALSE(f.doc.open(f.path("a.txt")));
    EXPECT_EQ(f.w.text, "mine");
    // A file that does not exist.
    f.w.modified = false;
    EXPECT_FALSE(f.doc.open(f.path("none.txt")));
    EXPECT_EQ(f.w.text, "mine");
    // A bad parameter file: text loaded, error swallowed, mark left set.
    writeCp932(f.path("a.txt.#CONFIG#"), "MaxHops=many\r\n");
    f.w.modified = true;
    f.w.answer = SaveAnswer::No;
    EXPECT_FALSE(f.doc.open(f.path("a.txt")));
    EXPECT_EQ(f.w.text, "other");
    EXPECT_TRUE(f.w.modified);
    EXPECT_TRUE(f.w.errors.isEmpty());
}

TEST(TargetFileCommands, SaveAndSaveAs)
{
    Fixture f;
    f.w.text = "x\ny";
    f.w.modified = true;
    f.w.params.PingCount = 42;
    EXPECT_TRUE(f.doc.save());
    EXPECT_EQ(readBytes(f.def), "x\r\ny");
    EXPECT_TRUE(readBytes(f.def + ".#CONFIG#").contains("PingCount=42\r\n"));
    EXPECT_FALSE(f.w.modified);

    // Save as: the new name's parameter file waits for the next save or exit.
    f.w.modified = true;
    EXPECT_TRUE(f.doc.saveAs(f.path("new.txt")));
    EXPECT_EQ(readBytes(f.path("new.txt")), "x\r\ny");
    EXPECT_FALSE(QFile::exists(f.path("new.txt.#CONFIG#")));
    EXPECT_EQ(f.w.caption, "Tarvok - new.txt");
    const QByteArray oldParams = readBytes(f.def + ".#CONFIG#");
    f.w.params.PingCount = 7;
    f.doc.endOfProgram();
    EXPECT_TRUE(readBytes(f.path("new.txt.#CONFIG#")).contains("PingCount=7\r\n"));
    EXPECT_EQ(readBytes(f.def + ".#CONFIG#"), oldParams);

    // SaveConfig off: no parameter file.
    f.w.saveConfigOn = false;
    EXPECT_TRUE(f.doc.saveAs(f.path("third.txt")));
    EXPECT_TRUE(f.doc.save());
    f.doc.endOfProgram();
    EXPECT_FALSE(QFile::exists(f.path("third.txt.#CONFIG#")));
}

TEST(TargetFileCommands, FailedSavesKeepEverything)
{
    Fixture f;
    writeCp932(f.def, "old\r\n");
    f.w.text = QStringLiteral("bad 😀");
    f.w.modified = true;
    EXPECT_FALSE(f.doc.save());
    EXPECT_TRUE(f.w.modified);
    EXPECT_EQ(readBytes(f.def), "old\r\n");
    EXPECT_FALSE(QFile::exists(f.def + ".#CONFIG#"));
    ASSERT_EQ(f.w.errors.size(), 1);
    EXPECT_TRUE(f.w.errors[0].contains(QStringLiteral("😀")));

    f.w.text = "fine";
    f.w.caption = "before";
    const QString bad = f.path("nofolder/x.txt");
    EXPECT_FALSE(f.doc.saveAs(bad));
    EXPECT_EQ(f.w.errors.last(), QStringLiteral("ファイル %1 を作成できません").arg(bad));
    EXPECT_EQ(f.doc.currentTargetFile(), f.def);
    EXPECT_EQ(f.w.caption, "before");
    EXPECT_TRUE(f.w.modified);

    // Yes at the question with a save that fails abandons the command.
    f.w.text = QStringLiteral("again 😀");
    f.w.answer = SaveAnswer::Yes;
    writeCp932(f.path("b.txt"), "b");
    EXPECT_FALSE(f.doc.open(f.path("b.txt")));
    EXPECT_EQ(f.w.text, QStringLiteral("again 😀"));
    EXPECT_FALSE(f.doc.checkModified());
}

TEST(TargetFileCommands, DropWritesParametersFirst)
{
    Fixture f;
    writeCp932(f.path("d.txt"), "dropped\r\n");
    writeCp932(f.path("d.txt.#CONFIG#"), "PingCount=5\r\nSorted=1\r\n");
    f.w.text = "current";
    f.w.modified = true;
    f.w.params.PingCount = 11;

    // Cancel: the text stays, but its parameter file is already written.
    f.w.answer = SaveAnswer::Cancel;
    EXPECT_FALSE(f.doc.drop(f.path("d.txt")));
    EXPECT_EQ(f.w.text, "current");
    EXPECT_TRUE(readBytes(f.def + ".#CONFIG#").contains("PingCount=11\r\n"));
    EXPECT_FALSE(QFile::exists(f.def));

    f.w.answer = SaveAnswer::No;
    EXPECT_TRUE(f.doc.drop(f.path("d.txt")));
    EXPECT_EQ(f.w.text, "dropped\n");
    EXPECT_EQ(f.w.params.PingCount, 5);
    EXPECT_TRUE(f.w.params.Sorted);
    EXPECT_FALSE(f.w.modified);
    EXPECT_TRUE(f.w.targetPageShown);
    EXPECT_EQ(f.doc.currentTargetFile(), f.path("d.txt"));
}

TEST(TargetFileCommands, DropReportsItsErrors)
{
    Fixture f;
    f.w.text = "current";
    EXPECT_FALSE(f.doc.drop(f.path("gone.txt")));
    EXPECT_EQ(f.w.errors, QStringList{QStringLiteral("ファイル %1 は開けません").arg(f.path("gone.txt"))});
    EXPECT_EQ(f.w.text, "current");

    writeCp932(f.path("e.txt"), "e\r\n");
    writeCp932(f.path("e.txt.#CONFIG#"), "TimeToLive=1.5\r\n");
    f.w.modified = true;
    f.w.answer = SaveAnswer::No;
    EXPECT_FALSE(f.doc.drop(f.path("e.txt")));
    EXPECT_EQ(f.w.errors.last(), QStringLiteral("'1.5' は整数ではありません"));
    EXPECT_EQ(f.w.text, "e\n");
    EXPECT_TRUE(f.w.modified);
    EXPECT_FALSE(f.w.targetPageShown);
    EXPECT_EQ(f.w.caption, "Tarvok - e.txt");
}

TEST(TargetFileCommands, InvalidBytesAreLoadedAndTold)
{
    Fixture f;
    writeCp932(f.path("x.txt"), "ok\r\n");
    {
        QFile g(f.path("x.txt"));
        ASSERT_TRUE(g.open(QIODevice::Append));
        g.write("bad\xFF\r\n");
    }
    EXPECT_TRUE(f.doc.open(f.path("x.txt")));
    EXPECT_EQ(f.w.text, QStringLiteral("ok\nbad\uFFFD\n"));
    ASSERT_EQ(f.w.warnings.size(), 1);
    EXPECT_TRUE(f.w.warnings[0].contains(QStringLiteral("2 行目")));
}

TEST(TargetFileCommands, Utf8FilesAreOpenedWithOneNoticeEach)
{
    Fixture f;
    writeBytes(f.path("u.txt"), QStringLiteral("198.18.0.1 東京\n").toUtf8());
    writeBytes(f.path("u.txt.#CONFIG#"), QStringLiteral("; 環境設定\nPingCount=7\n").toUtf8());
    EXPECT_TRUE(f.doc.open(f.path("u.txt")));
    EXPECT_EQ(f.w.text, QStringLiteral("198.18.0.1 東京\n"));
    EXPECT_EQ(f.w.params.PingCount, 7);
    ASSERT_EQ(f.w.warnings.size(), 2);
    EXPECT_TRUE(f.w.warnings.at(0).contains(f.path("u.txt") + " は UTF-8"));
    EXPECT_TRUE(f.w.warnings.at(1).contains(f.path("u.txt.#CONFIG#") + " は UTF-8"));
    // Saved in CP932.
    EXPECT_TRUE(f.doc.save());
    EXPECT_EQ(readBytes(f.path("u.txt")), cp932(QStringLiteral("198.18.0.1 東京\r\n")));
}
