#include "monitor/SoundPlayer.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QAudioDevice>
#include <QCoreApplication>
#include <QFile>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using tarvok::SoundPlayer;
using namespace Qt::StringLiterals;

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
    const bool backend = GetParam() || !QMediaDevices::defaultAudioOutput().isNull();
    player.setUseBackendWithoutDevice(GetParam());
    // Starts and reports in the order they happen: a sound may report inside
    // play() itself when the backend has it at hand (a cached or quickly read
    // sample), but never after it was replaced.
    QStringList events;
    QObject::connect(&player, &SoundPlayer::started, [&](const QString& p) { events << u"started "_s + p; });
    QObject::connect(&player, &SoundPlayer::loaded, [&](const QString& p, bool) { events << u"loaded "_s + p; });
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(player.play(a));
    EXPECT_TRUE(player.play(b)); // replaces the long one
    EXPECT_TRUE(player.play(b)); // the same file again
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_EQ(player.lastStarted(), b);
    if (backend) {
        // The sound started last reports back once the backend has read it.
        ASSERT_TRUE(QTest::qWaitFor([&] { return events.constLast().startsWith(u"loaded "_s); }, 10'000));
        QTest::qWait(0);
        EXPECT_EQ(events.constLast(), u"loaded "_s + b);
        for (qsizetype i = 1; i < events.size(); ++i) {
            if (events.at(i).startsWith(u"loaded "_s)) {
                EXPECT_EQ(events.at(i - 1), u"started "_s + events.at(i).mid(7)) << events.join(u"; "_s).toStdString();
            }
        }
    } else {
        EXPECT_EQ(player.findChild<QSoundEffect*>(), nullptr) << "no device: the backend is not touched";
    }
    player.stop();
    player.stop();
    EXPECT_TRUE(player.play(a));
}

INSTANTIATE_TEST_SUITE_P(SoundPlayer, SoundPlayerBackend, ::testing::Bool());

TEST(SoundPlayer, DestroyedWhilePlayingTakesItsSoundAlong)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a.wav");
    writeTone(a, 2000);
    auto player = std::make_unique<SoundPlayer>();
    player->setUseBackendWithoutDevice(true);
    QSignalSpy loaded(player.get(), &SoundPlayer::loaded);
    ASSERT_TRUE(player->play(a));
    QPointer<QSoundEffect> effect = player->findChild<QSoundEffect*>();
    ASSERT_TRUE(effect);
    // Loading (or already playing): destroyed there, nothing is left behind
    // and nothing reports afterwards.
    player.reset();
    EXPECT_TRUE(effect.isNull());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::qWait(0);
    EXPECT_TRUE(loaded.isEmpty());
}

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
    QSignalSpy loaded(&shared, &SoundPlayer::loaded);
    EXPECT_TRUE(shared.play(junk));
    // The backend gives up on it, and the player with it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 10'000));
    EXPECT_EQ(loaded.constFirst().at(0).toString(), junk);
    EXPECT_FALSE(loaded.constFirst().at(1).toBool());
    shared.stop();
    shared.setUseBackendWithoutDevice(false);
}
