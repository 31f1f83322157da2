// The editor commands, find and replace, the version box and its link, and
// the command tables of the window, driven as the operator drives them.

#include "support/FakeIcmp.h"

#include "base/Version.h"
#include "icmp/KtIcmp.h"
#include "ui/commands/EditCommands.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/FindDialog.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/KtUrlLabel.h"
#include "ui/window/TarvokMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

struct EditRig {
    ManualClock clock;
    FakeTransport* net = nullptr;
    std::unique_ptr<TTarvokMain> w;
    QStringList opened;

    EditRig()
    {
        net = new FakeTransport(clock);
        auto engine = std::make_unique<TKtICMP>(std::unique_ptr<IcmpTransport>(net),
                                                std::unique_ptr<Resolver>(new FakeResolver), clock);
        w = std::make_unique<TTarvokMain>(std::move(engine), clock);
        w->openDocument = [this](const QString& a) { opened << a; };
        w->show();
        QApplication::setActiveWindow(w.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    // Text and selection as "text|start|end".
    QString state() const
    {
        const QTextCursor c = w->Memo1->textCursor();
        return w->Memo1->toPlainText() + QStringLiteral("|%1|%2").arg(c.selectionStart()).arg(c.selectionEnd());
    }
    void set(const QString& text, int start, int end)
    {
        w->Memo1->setPlainText(text);
        QTextCursor c = w->Memo1->textCursor();
        c.setPosition(start);
        c.setPosition(end, QTextCursor::KeepAnchor);
        w->Memo1->setTextCursor(c);
    }
    void replace(const QString& find, const QString& with, bool matchCase, bool all)
    {
        w->mnuReplaceClick();
        w->edit().Replace1->setFindText(find);
        w->edit().Replace1->setReplaceText(with);
        w->edit().Replace1->chkMatchCase->setChecked(matchCase);
        (all ? w->edit().Replace1->btnReplaceAll : w->edit().Replace1->btnReplace)->click();
    }
};

} // namespace

TEST(EditCommands, FindNextSearchesForwardWithoutWrapAndSilently)
{
    EditRig r;
    struct Case {
        int from;
        QString text;
        bool matchCase, found;
        QString after;
    };
    const QString t = QStringLiteral("Host host\nHOST ホスト");
    for (const Case& c : {Case{0, "host", false, true, t + "|0|4"}, Case{0, "host", true, true, t + "|5|9"},
                          Case{4, "HOST", true, true, t + "|10|14"}, Case{11, "host", false, false, t + "|11|11"},
                          Case{0, "t\nH", true, true, t + "|8|11"}, Case{0, "ホスト", false, true, t + "|15|18"},
                          Case{0, "", false, false, t + "|0|0"}}) {
        r.set(t, c.from, c.from);
        EXPECT_EQ(r.w->edit().FindNext(c.text, c.matchCase), c.found) << c.text.toStdString();
        EXPECT_EQ(r.state(), c.after) << c.text.toStdString();
    }

    // The find dialog steps through every occurrence after the caret, stays
    // the same dialog and remembers its text; at the end nothing changes.
    r.set(QStringLiteral("a x a x a"), 1, 1);
    r.w->mnuFindClick();
    TFindDialog* find = r.w->edit().Find1;
    EXPECT_EQ(find->windowTitle(), QStringLiteral("検索"));
    EXPECT_FALSE(find->btnFindNext->isEnabled());
    find->setFindText(QStringLiteral("A"));
    QStringList steps;
    for (int i = 0; i < 3; ++i) {
        find->btnFindNext->click();
        steps << r.state();
    }
    EXPECT_EQ(steps, (QStringList{"a x a x a|4|5", "a x a x a|8|9", "a x a x a|8|9"}));
    find->close();
    r.w->edit().pmnFind->trigger();
    EXPECT_EQ(r.w->edit().Find1, find);
    EXPECT_TRUE(find->isVisible());
    EXPECT_EQ(find->FindText(), QStringLiteral("A"));
}

TEST(EditCommands, ReplaceAndReplaceAllFollowTheSelectionAndNeverRepeat)
{
    EditRig r;
    struct Case {
        QString text;
        int start, end;
        QString find, with;
        bool matchCase, all;
        QString after;
    };
    for (const Case& c : {
             // A selection that is not the search text: nothing replaced, next one selected.
             Case{"xa a", 0, 1, "a", "b", false, false, "xa a|1|2"},
             // A matching selection is replaced, then the next is selected.
             Case{"a A", 0, 1, "a", "b", false, false, "b A|2|3"},
             Case{"a A", 0, 1, "A", "b", true, false, "a A|2|3"},
             // Replace all: only after the caret; a matching selection first.
             Case{"a a a", 2, 2, "a", "b", false, true, "a b b|5|5"},
             Case{"a a", 3, 3, "a", "b", false, true, "a a|3|3"},
             Case{"a xa", 0, 1, "a", "bb", false, true, "bb xbb|6|6"},
             // A replacement holding the search text: one pass.
             Case{"a a\na", 0, 0, "a", "ab", false, true, "ab ab\nab|8|8"},
             Case{"aaa", 0, 0, "aa", "a", false, true, "aa|1|1"},
             Case{"Aa", 0, 0, "a", "", true, true, "A|1|1"},
         }) {
        r.set(c.text, c.start, c.end);
        r.replace(c.find, c.with, c.matchCase, c.all);
        EXPECT_EQ(r.state(), c.after) << c.text.toStdString() << " " << c.find.toStdString();
        EXPECT_TRUE(r.w->Memo1->updatesEnabled());
    }

    // Replace all is one step to undo.
    r.set(QStringLiteral("a a a"), 0, 0);
    r.replace(QStringLiteral("a"), QStringLiteral("ab"), false, true);
    r.w->mnuUndoClick();
    EXPECT_EQ(r.w->Memo1->toPlainText(), QStringLiteral("a a a"));

    // A read-only editor (a run in progress) is never changed.
    r.set(QStringLiteral("a a"), 0, 1);
    r.w->Memo1->setReadOnly(true);
    r.replace(QStringLiteral("a"), QStringLiteral("b"), false, true);
    r.w->mnuDeleteClick();
    r.w->mnuPasteClick();
    EXPECT_EQ(r.w->Memo1->toPlainText(), QStringLiteral("a a"));
}

TEST(EditCommands, FindAndReplaceShowTheEditorAndKeepOffTheMatch)
{
    EditRig r;
    QString text;
    for (int i = 0; i < 12; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    text += QStringLiteral("target");
    r.set(text, 0, 0);
    r.w->mnuFindClick();
    TFindDialog* find = r.w->edit().Find1;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(find));

    // The operator moved on to the results, and left the dialog over the editor.
    r.w->Page1->setCurrentWidget(r.w->TabPingReport);
    find->move(r.w->Memo1->mapToGlobal(QPoint(0, 0)));
    find->setFindText(QStringLiteral("target"));
    find->btnFindNext->click();
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabMemo);
    QTextCursor c = r.w->Memo1->textCursor();
    ASSERT_TRUE(c.hasSelection());
    const QRect local = r.w->Memo1->cursorRect(c);
    const QRect match(r.w->Memo1->viewport()->mapToGlobal(local.topLeft()), local.size());
    EXPECT_FALSE(find->frameGeometry().intersects(match));

    // すべて置換 from another tab shows the editor it changes.
    r.set(QStringLiteral("a a"), 0, 0);
    r.w->Page1->setCurrentWidget(r.w->TabPingReport);
    r.replace(QStringLiteral("a"), QStringLiteral("b"), false, true);
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabMemo);
    EXPECT_EQ(r.w->Memo1->toPlainText(), QStringLiteral("b b"));
}

TEST(EditCommands, TheWindowIsActiveAgainAfterADialogOrAQuestionCloses)
{
    EditRig r;
    // A dialog of the window, and a question asked from within it.
    auto* dialog = new QDialog(r.w.get());
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    auto* question = new QMessageBox(QMessageBox::Question, QStringLiteral("Tarvok"), QStringLiteral("?"),
                                     QMessageBox::Yes | QMessageBox::No, dialog);
    question->show();
    question->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(question));
    // Nothing is active while the window system has not decided yet.
    QApplication::setActiveWindow(nullptr);
    question->hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->isActiveWindow(); }, 5000));
    QApplication::setActiveWindow(nullptr);
    dialog->hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return r.w->isActiveWindow(); }, 5000));
    delete dialog;
}

TEST(EditCommands, EditorCommandsActOnTheEditorWhateverHasTheFocus)
{
    EditRig r;
    // Each item of the 編集 menu and its context-menu twin do the same.
    struct Case {
        QAction *menu, *popup;
        QString after, clipboard;
    };
    for (const Case& c : {Case{r.w->mnuCut, r.w->edit().pmnCut, "ad|1|1", "bc"}, Case{r.w->mnuCopy, r.w->edit().pmnCopy, "abcd|1|3", "bc"},
                          Case{r.w->mnuPaste, r.w->edit().pmnPaste, "aXd|2|2", "X"}, Case{r.w->mnuDelete, r.w->edit().pmnDelete, "ad|1|1", "X"},
                          Case{r.w->mnuSelectAll, r.w->edit().pmnSelectAll, "abcd|0|4", "X"}}) {
        for (QAction* a : {c.menu, c.popup}) {
            QApplication::clipboard()->setText(QStringLiteral("X"));
            r.set(QStringLiteral("abcd"), 1, 3);
            a->trigger();
            EXPECT_EQ(r.state(), c.after) << a->objectName().toStdString();
            EXPECT_EQ(QApplication::clipboard()->text(), c.clipboard) << a->objectName().toStdString();
        }
    }

    // Ctrl+C with the result list focused copies the editor's selection.
    r.set(QStringLiteral("10.0.0.1 host"), 0, 8);
    r.w->Page1->setCurrentWidget(r.w->TabPingReport);
    r.w->ListView1->setFocus();
    QTest::keyClick(r.w->ListView1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("10.0.0.1"));

    // Ctrl+F in the editor: the context menu's shortcut wins, and opens find.
    r.w->Page1->setCurrentWidget(r.w->tabMemo);
    r.w->Memo1->setFocus();
    QTest::keyClick(r.w->Memo1, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(r.w->edit().Find1);
    EXPECT_TRUE(r.w->edit().Find1->isVisible());

    // The editor's context menu is PopupMenu2, not the editor's own.
    QWidget* viewport = r.w->Memo1->viewport();
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), viewport->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(viewport, &menuEvent);
    EXPECT_TRUE(r.w->edit().PopupMenu2->isVisible());
    r.w->edit().PopupMenu2->close();
}

TEST(EditCommands, EditMenuFollowsTheBusyFlagButTheEditorMenuStillWorks)
{
    EditRig r;
    r.w->Memo1->setPlainText(QStringLiteral("198.18.0.1"));
    r.net->setResponder([](const Probe&) { return FakeOutcome::silence(); });
    r.w->mnuPing->trigger();
    settle();
    ASSERT_TRUE(r.w->run().Busy());
    for (QAction* a : r.w->Edit1->actions())
        EXPECT_TRUE(a->isSeparator() || !a->isEnabled()) << a->objectName().toStdString();
    // A disabled item's shortcut does nothing; the editor's menu still copies.
    // Nor does the focused list take the key for itself (its current cell).
    r.set(QStringLiteral("198.18.0.1"), 0, 3);
    r.w->Page1->setCurrentWidget(r.w->TabSheet4);
    r.w->ListView2->setCurrentIndex(r.w->ListView2->model()->index(0, 0));
    r.w->ListView2->setFocus();
    QApplication::clipboard()->setText(QStringLiteral("X"));
    QTest::keyClick(r.w->ListView2, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("X"));
    r.w->Page1->setCurrentWidget(r.w->tabMemo);
    r.w->Memo1->setFocus();
    QTest::keyClick(r.w->Memo1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("198"));
    QTest::keyClick(r.w->Memo1, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(r.w->edit().Find1);
    EXPECT_TRUE(r.w->edit().Find1->isVisible());

    advance(r.clock, 60000);
    ASSERT_FALSE(r.w->run().Busy());
    for (QAction* a : r.w->Edit1->actions())
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
}

TEST(EditCommands, VersionBoxIsOneAtATimeAndItsLinkOpensTheHomePage)
{
    EditRig r;
    QAction* commands[] = {r.w->mnuVersion, r.w->pmnuVersion, r.w->btnVersion};
    r.w->btnVersion->trigger();
    auto boxes = r.w->findChildren<TAboutBox*>();
    ASSERT_EQ(boxes.size(), 1);
    TAboutBox* box = boxes.first();
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Tarvok のバージョン情報"));
    EXPECT_FALSE(box->isModal());
    EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
    // Major and minor only ("1.33"), whatever the build's third number.
    EXPECT_EQ(box->ProductName->text(), QStringLiteral("Tarvok Version ") + QLatin1String(ProgramShortVersion));
    EXPECT_TRUE(QString::fromLatin1(ProgramVersion).startsWith(QLatin1String(ProgramShortVersion) + u'.'));
    EXPECT_TRUE(box->ProductName->font().bold());
    EXPECT_EQ(box->ProgramIcon->pixmap().deviceIndependentSize(), QSizeF(32, 32));
    EXPECT_EQ(box->KtUrlLabel2->toolTip(), QStringLiteral("ここから Tarvok の最新版が入手できます"));
    for (QAction* a : commands)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    r.w->mnuVersionClick();
    EXPECT_EQ(r.w->findChildren<TAboutBox*>().size(), 1);

    // The link and ホームページへ open the same address (the README of the
    // source tree in a build that is not installed).
    QTest::mouseClick(box->KtUrlLabel2, Qt::LeftButton);
    r.w->W1->trigger();
    ASSERT_EQ(r.opened.size(), 2);
    EXPECT_TRUE(r.opened.at(0).startsWith(QStringLiteral("file:") ) || r.opened.at(0).contains(QStringLiteral("://")));
    EXPECT_EQ(r.opened.at(0), r.opened.at(1));

    QTest::keyClick(box, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(r.w->findChildren<TAboutBox*>().isEmpty());
    for (QAction* a : commands)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
}

TEST(EditCommands, UrlLabelColoursFollowTheMouseAndClickOpensUrlOrCaption)
{
    TKtUrlLabel label;
    label.setText(QStringLiteral("https://example.org/"));
    label.setTextColor(Qt::black);
    label.MouseOverColor = Qt::red;
    label.MouseDownColor = Qt::yellow;
    QStringList opened;
    label.Opener = [&](const QString& a) { opened << a; };
    label.resize(100, 20);
    label.show();
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&label, &enter);
    EXPECT_EQ(label.textColor(), QColor(Qt::red));
    QTest::mousePress(&label, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(label.textColor(), QColor(Qt::red));
    QTest::mouseRelease(&label, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(label.textColor(), QColor(Qt::red)); // still over it
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(label.textColor(), QColor(Qt::yellow));
    QApplication::sendEvent(&label, &leave);
    EXPECT_EQ(label.textColor(), QColor(Qt::black));
    QApplication::sendEvent(&label, &enter);
    EXPECT_EQ(label.textColor(), QColor(Qt::yellow)); // still held
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(label.textColor(), QColor(Qt::red));
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(500, 5)); // released outside: no click
    EXPECT_EQ(label.textColor(), QColor(Qt::black));

    // Held and dragged away (the window sends moves, no leave), released
    // outside, and the leave that follows: the label's own colour.
    QApplication::sendEvent(&label, &enter);
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent out(QEvent::MouseMove, QPointF(300, 5), QPointF(300, 5), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &out);
    EXPECT_EQ(label.textColor(), QColor(Qt::black));
    QMouseEvent back(QEvent::MouseMove, QPointF(6, 5), QPointF(6, 5), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &back);
    EXPECT_EQ(label.textColor(), QColor(Qt::yellow));
    QApplication::sendEvent(&label, &out);
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(300, 5));
    QApplication::sendEvent(&label, &leave);
    EXPECT_EQ(label.textColor(), QColor(Qt::black));
    QApplication::sendEvent(&label, &enter);
    EXPECT_EQ(label.textColor(), QColor(Qt::red));
    QApplication::sendEvent(&label, &leave);
    EXPECT_EQ(label.textColor(), QColor(Qt::black));

    label.URL = QStringLiteral("file:///guide.html");
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    label.DisableOpen = true;
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    label.URL.clear();
    label.DisableOpen = false;
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(opened, (QStringList{"https://example.org/", "file:///guide.html", "https://example.org/"}));
}

TEST(EditCommands, CommandTablesMatchTheWindow)
{
    EditRig r;
    // name, caption, shortcut as the menu shows it, toolbar hint, toolbar image
    struct Row {
        const char* name;
        const char* caption;
        const char* keyText;
        const char* hint;
        int image;
    };
    const Row rows[] = {
        {"mnuUndo", "元に戻す(&Z)", "Ctrl+Z", nullptr, -1},   {"pmnUndo", "元に戻す(&Z)", "Ctrl+Z", nullptr, -1},
        {"mnuCut", "切り取り(&T)", "Ctrl+X", nullptr, -1},    {"pmnCut", "切り取り(&T)", "Ctrl+X", nullptr, -1},
        {"mnuCopy", "コピー(&C)", "Ctrl+C", nullptr, -1},     {"pmnCopy", "コピー(&C)", "Ctrl+C", nullptr, -1},
        {"mnuPaste", "貼り付け(&P)", "Ctrl+V", nullptr, -1},  {"pmnPaste", "貼り付け(&P)", "Ctrl+V", nullptr, -1},
        {"mnuDelete", "削除(&L)", "", nullptr, -1},           {"pmnDelete", "削除(&L)", "", nullptr, -1},
        {"mnuFind", "検索(&F)", "Ctrl+F", nullptr, -1},       {"pmnFind", "検索(&F)", "Ctrl+F", nullptr, -1},
        {"mnuReplace", "置換(&H)", "Ctrl+H", nullptr, -1},    {"pmnReplace", "置換(&H)", "Ctrl+H", nullptr, -1},
        {"mnuSelectAll", "全て選択(&A)", "Ctrl+A", nullptr, -1}, {"pmnSelectAll", "全て選択(&A)", "Ctrl+A", nullptr, -1},
        {"mnuExit", "終了(&X)", "Alt+F4", nullptr, -1},       {"mnuClear", "結果のクリア(&D)", "Ctrl+Del", nullptr, -1},
        {"mnuOption", "環境設定(&O)...", "Alt+Enter", nullptr, -1},
        {"mnuPingAndSelect", "選択してPing 実行（&Q）", "Shift+F5", nullptr, -1},
        {"W1", "ホームページへ(&W)", "", nullptr, -1},       {"mnuVersion", "バージョン情報(&V)...", "", nullptr, -1},
        {"btnExit", nullptr, nullptr, "終了(Alt+F4)", biExit}, {"btnOpen", nullptr, nullptr, "ファイルを開く(Ctrl+O)", biOpen},
        {"btnSave", nullptr, nullptr, "上書き保存(Ctrl+S)", biSave},
        {"btnPingKekka", nullptr, nullptr, "Ping 結果の保存(Ctrl+K)", biSaveResult},
        {"btnPing", nullptr, nullptr, "Ping 実行(F5)", biPing}, {"btnBreak", nullptr, nullptr, "中断(F4)", biBreak},
        {"btnTraceRoute", nullptr, nullptr, "TraceRoute 実行(F6)", biTrace},
        {"btnClear", nullptr, nullptr, "結果のクリア(Ctrl+Del)", biClear},
        {"btnOption", nullptr, nullptr, "環境設定(Alt+Enter)", biOption},
        {"btnVersion", nullptr, nullptr, "バージョン情報", biVersion},
    };
    for (const Row& row : rows) {
        auto* a = r.w->findChild<QAction*>(QLatin1String(row.name));
        ASSERT_TRUE(a) << row.name;
        if (row.caption) {
            EXPECT_EQ(a->text(), QString::fromUtf8(row.caption)) << row.name;
        }
        if (row.keyText) {
            EXPECT_EQ(a->shortcut().toString(QKeySequence::NativeText), QString::fromUtf8(row.keyText)) << row.name;
        }
        if (row.hint) {
            EXPECT_EQ(a->toolTip(), QString::fromUtf8(row.hint)) << row.name;
        }
        if (row.image >= 0) {
            EXPECT_EQ(a->icon().pixmap(16, 16).toImage(), buttonIcon(row.image).pixmap(16, 16).toImage()) << row.name;
        }
    }
    QStringList popup;
    for (QAction* a : r.w->edit().PopupMenu2->actions())
        popup << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(popup, (QStringList{"pmnUndo", "-", "pmnCut", "pmnCopy", "pmnPaste", "pmnDelete", "-", "pmnFind",
                                  "pmnReplace", "-", "pmnSelectAll"}));
    EXPECT_EQ(r.w->windowTitle(), QStringLiteral("Tarvok"));
    EXPECT_TRUE(QGuiApplication::applicationDisplayName() == QGuiApplication::applicationName());
}
