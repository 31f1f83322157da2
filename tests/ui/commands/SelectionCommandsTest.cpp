// Runs over chosen targets and over an address range, driven through the
// window's keys and menus with the dialogs answered by the test, over the
// fake network and a manual clock.

#include "support/FakeIcmp.h"
#include "support/TestFiles.h"

#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "store/IniFile.h"
#include "ui/dialogs/frmIpToIp.h"
#include "ui/window/TarvokMain.h"
#include "ui/dialogs/frmSelectTerm.h"
#include "ui/commands/SelectionCommands.h"
#include "ui/widgets/SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

QString dotted(quint32 netOrder)
{
    const auto* b = reinterpret_cast<const unsigned char*>(&netOrder);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

struct Rig {
    ManualClock clock;
    FakeTransport* net = nullptr;
    std::unique_ptr<TTarvokMain> w;
    QTemporaryDir dir;
    // What the test does with a dialog when a command shows it; it returns the
    // dialog's result. Unset: the test fails if a dialog appears.
    std::function<int(QDialog&)> onDialog;
    int dialogs = 0;
    QStringList asked;  // texts of the question box
    QStringList errors; // texts of the error boxes
    QMessageBox::StandardButton answer = QMessageBox::Cancel;

    Rig()
    {
        net = new FakeTransport(clock);
        auto engine = std::make_unique<TKtICMP>(std::unique_ptr<IcmpTransport>(net),
                                                std::unique_ptr<Resolver>(new FakeResolver), clock);
        w = std::make_unique<TTarvokMain>(std::move(engine), clock);
        // Every echo answered by its destination after 3 ms.
        net->setResponder([](const Probe& p) {
            FakeOutcome o = FakeOutcome::reply("127.0.0.1", 64, 3);
            o.from = p.dest;
            return o;
        });
        w->Parameters->edtPingCount->setValue(1);
        w->Parameters->edtPingWait->setValue(1);
        w->selection().setIniPath(iniPath());
        SelectionCommands::Dialogs d;
        d.exec = [this](QDialog& dlg) {
            ++dialogs;
            if (!onDialog) {
                ADD_FAILURE() << "unexpected dialog " << dlg.windowTitle().toStdString();
                return int(QDialog::Rejected);
            }
            return onDialog(dlg);
        };
        d.ask = [this](QWidget*, const QString& title, const QString& text) {
            asked << title + u'|' + text;
            return answer;
        };
        d.error = [this](QWidget*, const QString& text) { errors << text; };
        w->selection().setDialogs(d);
        w->show();
        QApplication::setActiveWindow(w.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    QString iniPath() const { return dir.filePath(QStringLiteral("tarvok.ini")); }
    void key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(w->Memo1, static_cast<Qt::Key>(key), mods);
        settle();
    }
    void runToEnd() { advance(clock, 600000); }
    QStringList sent() const
    {
        QStringList s;
        for (const Probe& p : net->sent())
            s << dotted(p.dest.v4());
        return s;
    }
    QStringList statColumn(int column) const
    {
        QStringList s;
        for (int r = 0; r < w->ListView2->model()->rowCount(); ++r)
            s << w->ListView2->model()->index(r, column).data().toString();
        return s;
    }
};

// Selects exactly these rows of the selection dialog's list.
void selectRows(TfrmSelectTerm& d, std::initializer_list<int> rows)
{
    d.ListView1->clearSelection();
    for (int r : rows)
        d.ListView1->topLevelItem(r)->setSelected(true);
}

void setFields(TfrmIpToIp& d, const QStringList& texts)
{
    QLineEdit* edits[] = {d.Edit1, d.Edit2, d.Edit3, d.Edit4, d.Edit5};
    for (int i = 0; i < 5; ++i)
        edits[i]->setText(texts.at(i));
}

QStringList fields(const TfrmIpToIp& d)
{
    return {d.Edit1->text(), d.Edit2->text(), d.Edit3->text(), d.Edit4->text(), d.Edit5->text()};
}

} // namespace

TEST(SelectionCommands, ChosenRowsAreRunAndTheEditorStaysAsItWas)
{
    Rig r;
    const QString text = QStringLiteral("# lab\n10.0.0.1 a\n10.0.0.2 b\n\n10.0.0.3 c\n10.0.0.2 d\n10.0.0.5 e\n");
    r.w->Memo1->setPlainText(text);
    r.onDialog = [&](QDialog& dlg) {
        auto& d = dynamic_cast<TfrmSelectTerm&>(dlg);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("対象選択"));
        EXPECT_EQ(d.ListView1->topLevelItemCount(), 5);
        EXPECT_EQ(d.ListView1->selectionModel()->selectedRows().size(), 5);
        EXPECT_EQ(d.ListView1->headerItem()->text(0), QStringLiteral("対象"));
        EXPECT_EQ(d.ListView1->topLevelItem(3)->text(1), QStringLiteral("d"));
        // Rows 2 and 4: the same address twice, chosen separately.
        selectRows(d, {1, 3});
        QTest::mouseClick(d.Button1, Qt::LeftButton);
        return d.result();
    };
    r.key(Qt::Key_F5, Qt::ShiftModifier);
    EXPECT_EQ(r.dialogs, 1);
    ASSERT_TRUE(r.w->run().Busy());
    r.runToEnd();
    EXPECT_EQ(r.sent(), (QStringList{"10.0.0.2", "10.0.0.2"}));
    EXPECT_EQ(r.statColumn(7), (QStringList{"b", "d"}));
    EXPECT_TRUE(r.asked.isEmpty());
    EXPECT_EQ(r.w->Memo1->toPlainText(), text);

    // A plain run works on the editor's targets again.
    r.key(Qt::Key_F5);
    r.runToEnd();
    EXPECT_EQ(r.w->ListView2->model()->rowCount(), 5);
}

TEST(SelectionCommands, NothingSelectedAsksWhetherAllAreMeant)
{
    // Yes runs all, No runs nothing, Cancel keeps the dialog open (then it
    // is cancelled: nothing runs either).
    struct Case {
        QMessageBox::StandardButton answer;
        int asks;
        int echoes;
    } const cases[] = {{QMessageBox::Yes, 1, 3}, {QMessageBox::No, 1, 0}, {QMessageBox::Cancel, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        Rig r;
        r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2\n10.0.0.3\n"));
        r.answer = c.answer;
        bool stayedOpen = false;
        r.onDialog = [&](QDialog& dlg) {
            auto& d = dynamic_cast<TfrmSelectTerm&>(dlg);
            d.show();
            QApplication::setActiveWindow(&d);
            EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
            QTest::mouseClick(d.Button4, Qt::LeftButton); // 全解除
            EXPECT_TRUE(d.ListView1->hasFocus());
            QTest::mouseClick(d.Button1, Qt::LeftButton);
            if (c.answer == QMessageBox::Cancel) {
                stayedOpen = d.isVisible() && d.ListView1->selectionModel()->selectedRows().isEmpty();
                QTest::mouseClick(d.Button2, Qt::LeftButton); // キャンセル
            }
            return d.result();
        };
        r.key(Qt::Key_F5, Qt::ShiftModifier);
        ASSERT_EQ(r.asked.size(), c.asks);
        EXPECT_EQ(r.asked.first(), QStringLiteral("Tarvok|対象アドレスが１件も選択されていません。\n"
                                                  "すべてのアドレスを対象としますか？"));
        r.runToEnd();
        EXPECT_EQ(r.net->sent().size(), c.echoes);
        if (c.answer == QMessageBox::Cancel) {
            EXPECT_TRUE(stayedOpen);
        }
        if (c.echoes == 0) {
            EXPECT_TRUE(r.w->run().targetList().isEmpty());
            EXPECT_TRUE(r.w->statusText().isEmpty()); // no message
        }
    }
}

TEST(SelectionCommands, NoTargetAndBusyShowNoDialog)
{
    Rig r;
    r.w->Memo1->setPlainText(QStringLiteral("; nothing\n\n"));
    r.w->Page1->setCurrentWidget(r.w->tabOption);
    r.w->startup.commandMode = true;
    r.key(Qt::Key_F5, Qt::ShiftModifier);
    EXPECT_EQ(r.dialogs, 0);
    EXPECT_EQ(r.w->statusText(), QStringLiteral("対象アドレスが１件もありません。"));
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabMemo);
    EXPECT_FALSE(r.w->startup.commandMode);

    // During a run neither dialog command opens anything, whichever way in.
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2\n"));
    r.key(Qt::Key_F5);
    ASSERT_TRUE(r.w->run().Busy());
    r.w->mnuPingAndSelectClick();
    r.w->mnuIpToIpClick();
    EXPECT_EQ(r.dialogs, 0);
}

TEST(SelectionCommands, RangeDialogChecksFieldsAndMovesTheFocus)
{
    Rig r;
    TfrmIpToIp d(r.iniPath(), r.w.get());
    d.setErrorBox([&](QWidget*, const QString& text) { r.errors << text; });
    d.show();
    QApplication::setActiveWindow(&d);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    // Nothing stored yet: the defaults, 10 for the end.
    EXPECT_EQ(fields(d), (QStringList{"192", "168", "0", "1", "10"}));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("範囲指定Ping"));

    d.Edit1->setFocus();
    setFields(d, {"192", "168", "256", "abc", "10"});
    QTest::mouseClick(d.Button1, Qt::LeftButton);
    EXPECT_EQ(r.errors.value(0), QStringLiteral("入力の範囲が不適切です。"));
    EXPECT_TRUE(d.Edit1->hasFocus() || d.Button1->hasFocus()); // not moved to Edit3
    EXPECT_FALSE(d.Edit3->hasFocus());

    setFields(d, {"192", "168", "0", "abc", "10"});
    QTest::mouseClick(d.Button1, Qt::LeftButton);
    EXPECT_EQ(r.errors.value(1), QStringLiteral("数値以外の値が入力されています。"));
    EXPECT_TRUE(d.Edit4->hasFocus());

    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_FALSE(QFile::exists(r.iniPath())); // nothing stored by a failed check
}

TEST(SelectionCommands, RangeRunStoresTheFieldsAndPingsAscending)
{
    Rig r;
    writeBytes(r.iniPath(), "[Placement]\r\nLeft=7\r\n[Tarvok]\r\nNGSound=1\r\n");
    const QString text = QStringLiteral("10.9.9.9 not this one\n");
    r.w->Memo1->setPlainText(text);
    r.onDialog = [&](QDialog& dlg) {
        auto& d = dynamic_cast<TfrmIpToIp&>(dlg);
        setFields(d, {"10", "0", "0", "20", "5"});
        QTest::mouseClick(d.Button1, Qt::LeftButton);
        return d.result();
    };
    r.key(Qt::Key_F7);
    ASSERT_TRUE(r.w->run().Busy());
    // The statistics actions are off during the run, whatever is selected.
    r.w->ListView2->selectRow(0);
    r.w->mnuToukeiClick();
    EXPECT_FALSE(r.w->acTOUKEI_PingExecute->isEnabled());
    EXPECT_FALSE(r.w->acTOUKEI_TracerouteExecute->isEnabled());
    r.runToEnd();

    QStringList expected;
    for (int n = 5; n <= 20; ++n)
        expected << QStringLiteral("10.0.0.%1").arg(n);
    EXPECT_EQ(r.sent(), expected);
    EXPECT_EQ(r.statColumn(0), expected);
    EXPECT_EQ(r.w->Memo1->toPlainText(), text);
    EXPECT_EQ(r.w->statusText(), QStringLiteral("終了しました。"));

    // Stored as typed, the rest of the file kept.
    EXPECT_EQ(readBytes(r.iniPath()), QByteArray("[Placement]\r\nLeft=7\r\n[Tarvok]\r\nNGSound=1\r\n[ContinuationIP]\r\n"
                                                  "StartOctet_1=10\r\nStartOctet_2=0\r\nStartOctet_3=0\r\n"
                                                  "StartOctet_4=20\r\nEndOctet_4=5\r\n"));

    // The next time the dialog shows them; Cancel runs and stores nothing.
    QStringList shown;
    r.onDialog = [&](QDialog& dlg) {
        auto& d = dynamic_cast<TfrmIpToIp&>(dlg);
        shown = fields(d);
        setFields(d, {"1", "2", "3", "4", "5"});
        QTest::keyClick(&d, Qt::Key_Escape);
        return d.result();
    };
    const QByteArray stored = readBytes(r.iniPath());
    const qsizetype echoes = r.net->sent().size();
    r.key(Qt::Key_F7);
    EXPECT_EQ(shown, (QStringList{"10", "0", "0", "20", "5"}));
    EXPECT_FALSE(r.w->run().Busy());
    EXPECT_EQ(r.net->sent().size(), echoes);
    EXPECT_EQ(readBytes(r.iniPath()), stored);
}

TEST(SelectionCommands, StatisticsRunTakesSelectedRowsInSortedOrder)
{
    Rig r;
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.2 b\n10.0.0.1 a\n10.0.0.3 c\n10.0.0.4 d\n"));
    r.key(Qt::Key_F5);
    r.runToEnd();
    // Sorted by 備考, descending: d c b a.
    QHeaderView* h = r.w->ListView2->horizontalHeader();
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(7) + h->sectionSize(7) / 2, h->height() / 2));
    ASSERT_EQ(r.statColumn(7), (QStringList{"d", "c", "b", "a"}));
    r.w->ListView2->selectionModel()->select(r.w->ListView2->model()->index(3, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    r.w->ListView2->selectionModel()->select(r.w->ListView2->model()->index(1, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    r.w->mnuToukeiClick();
    ASSERT_TRUE(r.w->acTOUKEI_PingExecute->isEnabled());

    const qsizetype before = r.net->sent().size();
    r.w->acTOUKEI_PingExecute->trigger();
    r.runToEnd();
    EXPECT_EQ(r.sent().mid(before), (QStringList{"10.0.0.3", "10.0.0.1"}));
    EXPECT_EQ(r.statColumn(0), (QStringList{"10.0.0.3", "10.0.0.1"}));
    EXPECT_EQ(r.statColumn(7), (QStringList{"c", "a"}));
}

TEST(SelectionCommands, TracesOverChosenTargetsAndSelectedRows)
{
    Rig r;
    const QString text = QStringLiteral("10.0.0.1 a\n10.0.0.2 b\n10.0.0.3 c\n");
    r.w->Memo1->setPlainText(text);
    r.key(Qt::Key_F5);
    r.runToEnd();
    const TraceTreeModel& tree = r.w->trace().treeModel();
    auto traced = [&] {
        QStringList s;
        for (int t = 0; t < tree.targetCount(); ++t)
            s << tree.targetText(t) + u'/' + QString::number(tree.hopCount(t));
        return s;
    };

    // From the statistics list: the selected row only; the list stays.
    r.w->ListView2->selectRow(2);
    r.w->mnuToukeiClick();
    r.w->acTOUKEI_TracerouteExecute->trigger();
    EXPECT_TRUE(r.w->run().Busy());
    r.runToEnd();
    EXPECT_EQ(traced(), QStringList{"10.0.0.3/1"});
    EXPECT_EQ(r.statColumn(0), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));

    // From the dialog: rows 1 and 3, the skeleton of those two only.
    r.onDialog = [&](QDialog& dlg) {
        auto& d = dynamic_cast<TfrmSelectTerm&>(dlg);
        selectRows(d, {0, 2});
        QTest::mouseClick(d.Button1, Qt::LeftButton);
        return d.result();
    };
    r.key(Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(traced(), (QStringList{"10.0.0.1/0", "10.0.0.3/0"}));
    r.runToEnd();
    EXPECT_EQ(traced(), (QStringList{"10.0.0.1/1", "10.0.0.3/1"}));
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabTraceRoute);
    EXPECT_EQ(r.w->Memo1->toPlainText(), text);

    // Cancel traces nothing and leaves the tree as it was.
    r.onDialog = [](QDialog& dlg) {
        dlg.reject();
        return dlg.result();
    };
    r.key(Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_FALSE(r.w->run().Busy());
    EXPECT_EQ(traced(), (QStringList{"10.0.0.1/1", "10.0.0.3/1"}));
}
