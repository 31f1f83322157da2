#include "ui/alerts/AlertWindows.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {
void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QStringList labelTexts(const QWidget* w)
{
    QStringList out;
    for (const QLabel* l : w->findChildren<QLabel*>())
        if (!l->text().isEmpty())
            out << l->text();
    return out;
}
} // namespace

TEST(AlertWindows, NGWindowIsCreatedReusedAndForgotten)
{
    QWidget owner;
    AlertWindows windows(&owner);
    EXPECT_EQ(windows.frmNGMessage(), nullptr);

    TfrmNGMessage* w = windows.showNG("2026/12/07 09:30:00", "srv1 (gw)", "Request Timed Out.");
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isModal());
    EXPECT_EQ(w->objectName(), "frmNGMessage");
    EXPECT_EQ(w->windowTitle(), "Tarvok NG 通知");
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_GE(w->width(), TfrmNGMessage::DesignWidth);
    EXPECT_GE(w->height(), TfrmNGMessage::DesignHeight);
    EXPECT_EQ(w->minimumSize(), w->maximumSize()); // fixed border
    EXPECT_EQ(w->Label7->text(), "以下の内容でＮＧが発生しました。");
    EXPECT_TRUE(labelTexts(w).contains("理由："));
    EXPECT_TRUE(labelTexts(w).contains("日時："));
    EXPECT_TRUE(labelTexts(w).contains("対象："));
    EXPECT_EQ(w->findChild<QPushButton*>("Button1")->text(), "OK");
    EXPECT_TRUE(w->Button1->isDefault());
    EXPECT_FALSE(w->Image1->pixmap().isNull());
    // Every value is fully visible.
    for (QLabel* v : {w->lblNowStr, w->lblHostName, w->lblError})
        EXPECT_GE(v->width(), v->sizeHint().width());

    // A second alert reuses the window and replaces the texts.
    TfrmNGMessage* again = windows.showNG("2026/12/07 09:31:00", "srv2", "Destination Host Unreachable");
    EXPECT_EQ(again, w);
    EXPECT_EQ(w->lblNowStr->text(), "2026/12/07 09:31:00");
    EXPECT_EQ(w->lblHostName->text(), "srv2");
    EXPECT_EQ(w->lblError->text(), "Destination Host Unreachable");
    EXPECT_EQ(owner.findChildren<TfrmNGMessage*>().size(), 1);

    // Closing destroys and forgets it; the next alert makes a new one.
    QPointer<TfrmNGMessage> guard(w);
    w->close();
    flushDeletes();
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(windows.frmNGMessage(), nullptr);
    TfrmNGMessage* fresh = windows.showNG("d", "h", "m");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(windows.frmNGMessage(), fresh);
    EXPECT_EQ(fresh->lblHostName->text(), "h");
}

TEST(AlertWindows, OKWindowIsItsOwnKind)
{
    QWidget owner;
    AlertWindows windows(&owner);
    TfrmNGMessage* ng = windows.showNG("d", "h", "m");
    TfrmOKMessage* ok = windows.showOK("2026/12/07 09:30:00", "srv1", "Ping OK （1ms）");
    ASSERT_NE(ok, nullptr);
    EXPECT_NE(static_cast<TfrmNGMessage*>(ok), ng);
    EXPECT_NE(qobject_cast<TfrmNGMessage*>(ok), nullptr);
    EXPECT_EQ(ok->objectName(), "frmOKMessage");
    EXPECT_EQ(ok->windowTitle(), "Tarvok OK 通知");
    EXPECT_EQ(ok->Label7->text(), "以下のホストが疎通しました。");
    EXPECT_TRUE(labelTexts(ok).contains("内容："));
    EXPECT_FALSE(labelTexts(ok).contains("理由："));
    EXPECT_FALSE(ok->Image1->pixmap().isNull());
    EXPECT_EQ(ok->lblError->text(), "Ping OK （1ms）");
    EXPECT_EQ(windows.showOK("d2", "h2", "m2"), ok);
}

TEST(AlertWindows, OnlyTheNGButtonAcknowledges)
{
    QWidget owner;
    AlertWindows windows(&owner);
    QSignalSpy ack(&windows, &AlertWindows::ngAcknowledged);

    // The close box (or Esc) closes without acknowledging.
    windows.showNG("d", "h", "m")->close();
    flushDeletes();
    EXPECT_EQ(ack.count(), 0);
    EXPECT_EQ(windows.frmNGMessage(), nullptr);

    // The OK window's button only closes.
    QTest::mouseClick(windows.showOK("d", "h", "m")->Button1, Qt::LeftButton);
    flushDeletes();
    EXPECT_EQ(ack.count(), 0);
    EXPECT_EQ(windows.frmOKMessage(), nullptr);

    // The NG window's button acknowledges, then closes.
    QTest::mouseClick(windows.showNG("d", "h", "m")->Button1, Qt::LeftButton);
    flushDeletes();
    EXPECT_EQ(ack.count(), 1);
    EXPECT_EQ(windows.frmNGMessage(), nullptr);
}

TEST(AlertWindows, LongTextsWidenThenWrap)
{
    AlertWindows windows(nullptr);
    const QString host = QString("長いホスト名") + " (" + QString("コメント").repeated(6) + ")";
    TfrmNGMessage* w = windows.showNG("2026/12/07 09:30:00", host, "m");
    EXPECT_GT(w->width(), TfrmNGMessage::DesignWidth);
    EXPECT_LE(w->lblHostName->geometry().right(), w->width());
    EXPECT_GE(w->lblHostName->width(), w->lblHostName->sizeHint().width());

    // Longer than the screen is wide: the text wraps and nothing is cut off.
    const QString huge = QString("とても長い理由の説明文").repeated(30);
    w = windows.showNG("2026/12/07 09:30:00", "h", huge);
    const QRect screen = w->screen()->availableGeometry();
    EXPECT_LE(w->width(), screen.width());
    EXPECT_GT(w->height(), TfrmNGMessage::DesignHeight);
    EXPECT_GE(w->lblError->height(), w->lblError->heightForWidth(w->lblError->width()));
    EXPECT_LE(w->lblError->geometry().bottom(), w->height());
}
