// The target-file commands on the real window: open, save, save as, drops and
// the prompt, with every dialog answered by the test.

#include "support/TestFiles.h"
#include "support/FakeIcmp.h"

#include "base/Cp932.h"
#include "icmp/KtIcmp.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"
#include "ui/commands/TargetFileCommands.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QUrl>
#include <QDropEvent>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {




struct FilesRig {
    QTemporaryDir dir;
    ManualClock clock;
    std::unique_ptr<TTarvokMain> w;
    TargetFileCommands* files = nullptr;

    // Dialog answers and what the dialogs were shown.
    QString openAnswer;
    QString saveAnswer;
    QMessageBox::StandardButton askAnswer = QMessageBox::Cancel;
    QStringList asked;
    QStringList errors;
    QStringList warnings;
    int openShown = 0;
    int saveShown = 0;

    FilesRig()
    {
        auto engine = std::make_unique<TKtICMP>(std::make_unique<FakeTransport>(clock),
                                                std::make_unique<FakeResolver>(), clock);
        w = std::make_unique<TTarvokMain>(std::move(engine), clock);
        files = new TargetFileCommands(*w);
        TargetFileCommands::Dialogs d;
        d.openFile = [this](QWidget*, const QString&) { ++openShown; return openAnswer; };
        d.saveFile = [this](QWidget*, const QString&) { ++saveShown; return saveAnswer; };
        d.ask = [this](QWidget*, const QString& title, const QString& text) {
            asked << title + QLatin1Char('|') + text;
            return askAnswer;
        };
        d.error = [this](QWidget*, const QString& text) { errors << text; };
        d.warning = [this](QWidget*, const QString& text) { warnings << text; };
        files->setDialogs(d);
        files->setCurrentTargetFile(path("Tarvok.def"));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    void type(const QString& text)
    {
        w->Memo1->setPlainText(text);
        w->Memo1->document()->setModified(true);
    }
    QString text() const { return w->Memo1->toPlainText(); }
    bool modified() const { return w->Memo1->document()->isModified(); }
};

const QByteArray kParams = "; comment\r\n"
                           "PingCount=7\r\n"
                           "Sorted=0\r\n"
                           "Parmanent=1\r\n"
                           "Interval=12\r\n";

} // namespace

TEST(TargetFileCommands, OpenLoadsTextParametersAndCaption)
{
    FilesRig r;
    writeBytes(r.path("a.txt"), cp932(QStringLiteral("host1 サーバ\r\nhost2\r\n")));
    writeBytes(r.path("a.txt.#CONFIG#"), kParams);

    // Cancelled dialog: nothing happens, no question.
    r.type(QStringLiteral("mine"));
    r.files->Open();
    EXPECT_EQ(r.openShown, 1);
    EXPECT_TRUE(r.asked.isEmpty());
    EXPECT_EQ(r.text(), QStringLiteral("mine"));

    // The dialog first, then the question; Cancel keeps the text.
    r.openAnswer = r.path("a.txt");
    r.files->Open();
    ASSERT_EQ(r.asked.size(), 1);
    EXPECT_EQ(r.asked.first(), QStringLiteral("保存確認|対象端末データが変更されています。\n上書き保存してもよろしいですか？"));
    EXPECT_EQ(r.text(), QStringLiteral("mine"));
    EXPECT_TRUE(r.modified());

    // No: the file replaces the text, its parameters reach the controls.
    r.askAnswer = QMessageBox::No;
    r.files->Open();
    EXPECT_EQ(r.text(), QStringLiteral("host1 サーバ\nhost2\n"));
    EXPECT_FALSE(r.modified());
    EXPECT_EQ(r.files->currentTargetFile(), r.path("a.txt"));
    EXPECT_EQ(r.w->windowTitle(), QStringLiteral("Tarvok - a.txt"));
    EXPECT_EQ(r.w->Parameters->edtPingCount->Value(), 7);
    EXPECT_TRUE(r.w->Parameters->chkTermToCycle->isChecked());
    EXPECT_TRUE(r.w->Parameters->chkInterval->isChecked());
    EXPECT_EQ(r.w->Parameters->edtInterval->Value(), 12);
    EXPECT_TRUE(r.errors.isEmpty());
    // Opening writes no parameter file of the text it replaced.
    EXPECT_FALSE(QFile::exists(r.path("Tarvok.def.#CONFIG#")));

    // A file that has gone away: nothing changes, no message.
    r.openAnswer = r.path("gone.txt");
    r.files->Open();
    EXPECT_EQ(r.files->currentTargetFile(), r.path("a.txt"));
    EXPECT_TRUE(r.errors.isEmpty());
}

TEST(TargetFileCommands, OpenSwallowsABadParameterValue)
{
    FilesRig r;
    writeBytes(r.path("b.txt"), "b1\r\n");
    writeBytes(r.path("b.txt.#CONFIG#"), "PingCount=9\r\nTimeOut=fast\r\nTimeToLive=9\r\n");
    r.type(QStringLiteral("old"));
    r.askAnswer = QMessageBox::No;
    r.openAnswer = r.path("b.txt");
    r.files->Open();

    EXPECT_TRUE(r.errors.isEmpty());                       // swallowed
    EXPECT_EQ(r.text(), QStringLiteral("b1\n"));          // loaded before the parameters
    EXPECT_EQ(r.w->windowTitle(), QStringLiteral("Tarvok - b.txt"));
    EXPECT_EQ(r.w->Parameters->edtPingCount->Value(), 9);             // before the bad key
    EXPECT_EQ(r.w->Parameters->edtTTL->Value(), 255);                 // after it: unchanged
    EXPECT_TRUE(r.modified());                            // later steps skipped
}

TEST(TargetFileCommands, ReadParametersSetsTheControlsTheWayTheFileSays)
{
    FilesRig r;
    const QString cfg = r.path("Tarvok.def.#CONFIG#");
    r.w->Parameters->edtPingCount->setValue(4);
    r.w->Parameters->chkCycleToTerm->setChecked(true);
    r.w->Parameters->chkInterval->setChecked(true);
    r.w->Parameters->chkResolveHostName->setChecked(false);

    // Only Interval: the spin fields keep their values, the switches follow
    // their missing keys.
    writeBytes(cfg, "Interval=10\r\n");
    EXPECT_FALSE(r.files->ReadParameters().failed());
    EXPECT_EQ(r.w->windowTitle(), QStringLiteral("Tarvok - Tarvok.def"));
    EXPECT_EQ(r.w->Parameters->edtInterval->Value(), 10);
    EXPECT_EQ(r.w->Parameters->edtPingCount->Value(), 4);
    EXPECT_TRUE(r.w->Parameters->chkTermToCycle->isChecked());
    EXPECT_FALSE(r.w->Parameters->chkInterval->isChecked());
    EXPECT_TRUE(r.w->Parameters->chkResolveHostName->isChecked());

    // Clamped by the fields; lower-case keys found; the first line wins.
    writeBytes(cfg, "pingcount=0\r\nBlockSize=99999\r\nPingCount=5\r\nSorted=1\r\nResolveHostName=0\r\n");
    r.files->ReadParameters();
    EXPECT_EQ(r.w->Parameters->edtPingCount->text(), QStringLiteral("1"));
    EXPECT_EQ(r.w->Parameters->edtBlockSize->text(), QStringLiteral("4096"));
    EXPECT_TRUE(r.w->Parameters->chkCycleToTerm->isChecked());
    EXPECT_FALSE(r.w->Parameters->chkResolveHostName->isChecked());

    // No file: the controls keep their values.
    QFile::remove(cfg);
    r.w->Parameters->edtPingWait->setValue(333);
    EXPECT_FALSE(r.files->ReadParameters().failed());
    EXPECT_EQ(r.w->Parameters->edtPingWait->Value(), 333);
    EXPECT_EQ(r.w->Parameters->edtBlockSize->Value(), 4096);
}

TEST(TargetFileCommands, SaveWritesTextAndParametersAsSaveConfigSays)
{
    FilesRig r;
    r.type(QStringLiteral("192.0.2.1 ルータ\nhost"));
    r.w->Parameters->edtPingCount->setValue(6);
    r.w->prefs.SaveConfig = false;
    ASSERT_TRUE(r.files->Save());
    EXPECT_EQ(readBytes(r.path("Tarvok.def")), cp932(QStringLiteral("192.0.2.1 ルータ\r\nhost")));
    EXPECT_FALSE(QFile::exists(r.path("Tarvok.def.#CONFIG#")));
    EXPECT_FALSE(r.modified());
    EXPECT_TRUE(r.asked.isEmpty());

    r.w->prefs.SaveConfig = true;
    r.type(QStringLiteral("host"));
    ASSERT_TRUE(r.files->Save());
    const QByteArray cfg = readBytes(r.path("Tarvok.def.#CONFIG#"));
    EXPECT_TRUE(cfg.contains("\r\nPingCount=6\r\n"));
    EXPECT_TRUE(cfg.endsWith("ResolveHostName=1\r\n"));
}

TEST(TargetFileCommands, FailedSaveKeepsTheOldFileAndTheMark)
{
    FilesRig r;
    writeBytes(r.path("Tarvok.def"), "old\r\n");
    writeBytes(r.path("Tarvok.def.#CONFIG#"), "PingCount=9\r\n");

    // A character the file's code page cannot hold: refused, with its place.
    r.type(QStringLiteral("a\nb \U0001F600"));
    EXPECT_FALSE(r.files->Save());
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(r.errors.first().contains(QStringLiteral("\U0001F600")));
    EXPECT_TRUE(r.errors.first().contains(QStringLiteral("2 行目")));
    EXPECT_EQ(readBytes(r.path("Tarvok.def")), QByteArray("old\r\n"));
    EXPECT_EQ(readBytes(r.path("Tarvok.def.#CONFIG#")), QByteArray("PingCount=9\r\n"));
    EXPECT_TRUE(r.modified());

    // A file that cannot be created: the message names it.
    writeBytes(r.path("plain"), "x");
    r.files->setCurrentTargetFile(r.path("plain/list.txt"));
    r.type(QStringLiteral("x"));
    EXPECT_FALSE(r.files->Save());
    ASSERT_EQ(r.errors.size(), 2);
    EXPECT_EQ(r.errors.at(1), QStringLiteral("ファイル %1 を作成できません").arg(r.path("plain/list.txt")));
    EXPECT_TRUE(r.modified());
    EXPECT_FALSE(QFile::exists(r.path("plain/list.txt.#CONFIG#")));

    // Yes in the prompt with a save that fails: the caller must stop.
    r.askAnswer = QMessageBox::Yes;
    EXPECT_FALSE(r.files->CheckModified());
    r.askAnswer = QMessageBox::No;
    EXPECT_TRUE(r.files->CheckModified());
    r.askAnswer = QMessageBox::Cancel;
    EXPECT_FALSE(r.files->CheckModified());
}

TEST(TargetFileCommands, SaveAsRenamesWithoutWritingParameters)
{
    FilesRig r;
    r.type(QStringLiteral("x"));

    EXPECT_FALSE(r.files->SaveAs());    // cancelled
    EXPECT_TRUE(r.modified());

    // A failure keeps the name and the caption.
    r.w->setWindowTitle(QStringLiteral("Tarvok - Tarvok.def"));
    writeBytes(r.path("plain"), "x");
    r.saveAnswer = r.path("plain/new.txt");
    EXPECT_FALSE(r.files->SaveAs());
    EXPECT_EQ(r.files->currentTargetFile(), r.path("Tarvok.def"));
    EXPECT_EQ(r.w->windowTitle(), QStringLiteral("Tarvok - Tarvok.def"));
    EXPECT_TRUE(r.modified());

    r.saveAnswer = r.path("new.txt");
    ASSERT_TRUE(r.files->SaveAs());
    EXPECT_EQ(readBytes(r.path("new.txt")), QByteArray("x"));
    EXPECT_EQ(r.files->currentTargetFile(), r.path("new.txt"));
    EXPECT_EQ(r.w->windowTitle(), QStringLiteral("Tarvok - new.txt"));
    EXPECT_FALSE(r.modified());
    EXPECT_FALSE(QFile::exists(r.path("new.txt.#CONFIG#")));
    // The parameters follow with the next write of them (the end of the program).
    r.files->WriteParameters();
    EXPECT_TRUE(QFile::exists(r.path("new.txt.#CONFIG#")));
    EXPECT_FALSE(QFile::exists(r.path("Tarvok.def.#CONFIG#")));
}

TEST(TargetFileCommands, DropWritesTheOldParametersFirstAndReportsFailures)
{
    FilesRig r;
    writeBytes(r.path("d.txt"), "d1\r\n");
    writeBytes(r.path("d.txt.#CONFIG#"), "PingCount=8\r\n");
    r.w->Page1->setCurrentIndex(2);
    r.type(QStringLiteral("mine"));

    // Cancel: the text stays, but the current parameters have been written.
    r.files->FileDrop({r.path("d.txt")});
    EXPECT_EQ(r.text(), QStringLiteral("mine"));
    EXPECT_TRUE(QFile::exists(r.path("Tarvok.def.#CONFIG#")));

    // A file that cannot be read: said so, nothing changes.
    r.askAnswer = QMessageBox::No;
    r.files->FileDrop({r.path("missing.txt")});
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_EQ(r.errors.first(), QStringLiteral("ファイル %1 は開けません").arg(r.path("missing.txt")));
    EXPECT_EQ(r.text(), QStringLiteral("mine"));

    // Only the first file counts.
    r.files->FileDrop({r.path("d.txt"), r.path("missing.txt")});
    EXPECT_EQ(r.errors.size(), 1);
    EXPECT_EQ(r.text(), QStringLiteral("d1\n"));
    EXPECT_EQ(r.w->Parameters->edtPingCount->Value(), 8);
    EXPECT_EQ(r.w->windowTitle(), QStringLiteral("Tarvok - d.txt"));
    EXPECT_FALSE(r.modified());
    EXPECT_EQ(r.w->Page1->currentIndex(), 0);

    // A bad value is shown; the mark and the page stay.
    writeBytes(r.path("e.txt"), "e1\r\n");
    writeBytes(r.path("e.txt.#CONFIG#"), "PingWait=1.5\r\n");
    r.w->Page1->setCurrentIndex(1);
    r.type(QStringLiteral("edited"));
    r.files->FileDrop({r.path("e.txt")});
    ASSERT_EQ(r.errors.size(), 2);
    EXPECT_EQ(r.errors.at(1), QStringLiteral("'1.5' は整数ではありません"));
    EXPECT_EQ(r.text(), QStringLiteral("e1\n"));
    EXPECT_TRUE(r.modified());
    EXPECT_EQ(r.w->Page1->currentIndex(), 1);
}

TEST(TargetFileCommands, FilesDroppedOnTheWindowOrTheEditorAreOpened)
{
    FilesRig r;
    writeBytes(r.path("f.txt"), "f1\r\n");
    writeBytes(r.path("g.txt"), "g1\r\n");
    r.w->prefs.SaveConfig = false;

    auto drop = [](QWidget* target, const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        const bool accepted = enter.isAccepted();
        QDropEvent dropEvent(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &dropEvent);
        return accepted;
    };

    EXPECT_TRUE(drop(r.w->Memo1->viewport(), {QUrl::fromLocalFile(r.path("f.txt"))}));
    EXPECT_EQ(r.text(), QStringLiteral("f1\n"));
    EXPECT_TRUE(drop(r.w.get(), {QUrl::fromLocalFile(r.path("g.txt")), QUrl::fromLocalFile(r.path("f.txt"))}));
    EXPECT_EQ(r.text(), QStringLiteral("g1\n"));
    // Something that is no local file is not taken.
    EXPECT_FALSE(drop(r.w.get(), {QUrl(QStringLiteral("https://example.invalid/x.txt"))}));
    EXPECT_EQ(r.text(), QStringLiteral("g1\n"));
}

TEST(TargetFileCommands, InvalidBytesAreReportedAndTheRestKept)
{
    FilesRig r;
    writeBytes(r.path("bad.txt"), QByteArray("host1\r\nho\x80st2\r\nhost3\r\n"));
    r.openAnswer = r.path("bad.txt");
    r.files->Open();
    EXPECT_EQ(r.text(), QStringLiteral("host1\nho\uFFFDst2\nhost3\n"));
    ASSERT_EQ(r.warnings.size(), 1);
    EXPECT_TRUE(r.warnings.first().contains(r.path("bad.txt")));

    r.files->FileDrop({r.path("bad.txt")});
    EXPECT_EQ(r.warnings.size(), 2);
}
