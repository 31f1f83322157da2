#include "monitor/SoundPlayer.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>

using tarvok::SoundPlayer;

namespace {

// Writes a short mono 16-bit PCM WAV file (a 440 Hz tone).
void writeTone(const QString& path, int ms)
{
    const quint32 rate = 8000;
    const quint32 samples = rate * ms / 1000;
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + samples * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << rate << quint32(rate * 2) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(samples * 2);
    for (quint32 i = 0; i < samples; ++i)
        out << qint16(8000 * std::sin(2 * M_PI * 440 * i / rate));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

TEST(SoundPlayer, MissingEmptyOrFolderPathDoesNothing)
{
    QTemporaryDir dir;
    SoundPlayer player;
    QSignalSpy spy(&player, &SoundPlayer::started);
    EXPECT_FALSE(player.play(QString()));
    EXPECT_FALSE(player.play(dir.filePath("nothing.wav")));
    EXPECT_FALSE(player.play(dir.path()));
    EXPECT_EQ(player.startCount(), 0);
    EXPECT_TRUE(player.lastStarted().isEmpty());
    EXPECT_EQ(spy.count(), 0);
}

// The machines that run the tests usually have no audio device: starting,
// replacing and dropping sounds must neither fail nor block there, whether
// the backend is skipped or driven.
class SoundPlayerBackend : public ::testing::TestWithParam<bool> {};

TEST_P(SoundPlayerBackend, PlaysAndReplacesWithoutBlocking)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a.wav"), b = dir.filePath("b.wav");
    writeTone(a, 2000);
    writeTone(b, 50);

    SoundPlayer player;
    player.setUseBackendWithoutDevice(GetParam());
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(player.play(a));
    EXPECT_TRUE(player.play(b)); // replaces the long one
    EXPECT_TRUE(player.play(b)); // the same file again
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_EQ(player.startCount(), 3);
    EXPECT_EQ(player.lastStarted(), b);
    QTest::qWait(300);

    player.stop();
    player.stop();
    EXPECT_TRUE(player.play(a));
    // Destroyed while a sound is loading or playing.
}

INSTANTIATE_TEST_SUITE_P(SoundPlayer, SoundPlayerBackend, ::testing::Bool());

TEST(SoundPlayer, FileThatIsNoWavIsHarmless)
{
    QTemporaryDir dir;
    const QString junk = dir.filePath("junk.wav");
    {
        QFile f(junk);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not a sound");
    }
    SoundPlayer& shared = SoundPlayer::instance();
    EXPECT_EQ(&shared, &SoundPlayer::instance());
    shared.setUseBackendWithoutDevice(true);
    EXPECT_TRUE(shared.play(junk));
    QTest::qWait(300);
    shared.stop();
    shared.setUseBackendWithoutDevice(false);
}
