#include "targets/TargetList.h"

#include <gtest/gtest.h>

using namespace tarvok;

TEST(TargetList, SplitsAddressAndComment)
{
    EXPECT_EQ(SplitTargetLine("192.168.0.1"), (TargetEntry{"192.168.0.1", ""}));
    TargetList l;
    ParseTargetList({"  server1   main router  ", "10.0.0.1 # core switch", "x"}, l);
    ASSERT_EQ(l.count(), 3);
    EXPECT_EQ(l.at(0), (TargetEntry{"server1", "main router"}));
    EXPECT_EQ(l.at(1), (TargetEntry{"10.0.0.1", "# core switch"}));
    EXPECT_EQ(l.at(2), (TargetEntry{"x", ""}));
}

TEST(TargetList, OnlyTheAsciiSpaceSeparates)
{
    TargetList l;
    ParseTargetList({"host\tcomment", QStringLiteral("host\u3000comment")}, l);
    ASSERT_EQ(l.count(), 2);
    EXPECT_EQ(l.at(0), (TargetEntry{"host\tcomment", ""}));
    EXPECT_EQ(l.at(1), (TargetEntry{QStringLiteral("host\u3000comment"), ""}));
}

TEST(TargetList, CommentAndBlankLinesAreSkipped)
{
    TargetList l;
    ParseTargetList({"#a", ";b", "'c", QStringLiteral("＃d"), QStringLiteral("；e"), QStringLiteral("’f"),
                     "", "   \t ", QStringLiteral("  \u3000host"), "\x01"},
                    l);
    EXPECT_TRUE(l.isEmpty());
}

TEST(TargetList, DuplicatesKeepTheirOwnIndex)
{
    TargetList l;
    ParseTargetList({"a one", "a two", "# skip", "a three"}, l);
    ASSERT_EQ(l.count(), 3);
    EXPECT_EQ(l.comments(), (QStringList{"one", "two", "three"}));
    ParseTargetList({"b"}, l); // rebuilt from scratch
    EXPECT_EQ(l.count(), 1);
}
