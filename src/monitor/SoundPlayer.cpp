#include "monitor/SoundPlayer.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace tarvok {

SoundPlayer& SoundPlayer::instance()
{
    // Owned by nobody: the player lives until the program ends. Deleting it
    // from a static destructor after QApplication is gone would touch a dead
    // audio backend.
    static SoundPlayer* player = new SoundPlayer;
    return *player;
}

SoundPlayer::SoundPlayer(QObject* parent) : QObject(parent) {}

SoundPlayer::~SoundPlayer()
{
    stop();
}

bool SoundPlayer::play(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return false;

    // A fresh effect for every sound: the old one is stopped and dropped, so
    // a new sound always replaces the one playing, and replaying a file that
    // was changed on disk reads it again.
    stop();
    lastStarted_ = path;
    ++startCount_;
    emit started(path);

    // Without an audio output there is nothing to play on; skipping the
    // effect spares the backend's complaints on every alert.
    if (!useBackendWithoutDevice_ && QMediaDevices::defaultAudioOutput().isNull())
        return true;
    effect_ = new QSoundEffect(this);
    effect_->setLoopCount(1);
    // The file is decoded on the backend's own thread; play once it is ready.
    connect(effect_, &QSoundEffect::statusChanged, this, &SoundPlayer::playWhenLoaded);
    effect_->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    playWhenLoaded();
    return true;
}

void SoundPlayer::playWhenLoaded()
{
    if (!effect_)
        return;
    switch (effect_->status()) {
    case QSoundEffect::Ready:
        if (!effect_->isPlaying()) {
            effect_->play();
            emit loaded(lastStarted_, true);
        }
        break;
    case QSoundEffect::Error: {
        // Undecodable file or no device: silently give up on this sound.
        QSoundEffect* dead = effect_;
        effect_ = nullptr;
        dead->deleteLater();
        emit loaded(lastStarted_, false);
        break;
    }
    default:
        break;
    }
}

void SoundPlayer::stop()
{
    if (!effect_)
        return;
    QSoundEffect* old = effect_;
    effect_ = nullptr;
    old->disconnect(this);
    old->stop();
    // Not deleted inline: the call may come from one of its own signals.
    old->deleteLater();
}

} // namespace tarvok
