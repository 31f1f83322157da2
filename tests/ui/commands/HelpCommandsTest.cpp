// ホームページへ opens the user guide installed beside the program, wherever
// the program was installed.

#include "ui/commands/HelpCommands.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tarvok;

TEST(HelpCommands, HomePageIsTheGuideInstalledBesideTheProgram)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    const QString doc = prefix.filePath(QStringLiteral("share/doc/tarvok"));
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QDir().mkpath(doc));
    const QString guide = doc + QStringLiteral("/index.html");

    // Not there yet: whatever else is found, not this prefix's guide.
    EXPECT_NE(HomePageAddress(bin), QUrl::fromLocalFile(guide).toString());

    test::writeBytes(guide, "<!DOCTYPE html>");
    EXPECT_EQ(HomePageAddress(bin), QUrl::fromLocalFile(guide).toString());
}
