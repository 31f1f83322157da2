#pragma once
// Asynchronous playing of WAV files for alerts and for the play buttons of the
// options dialog. One shared player: a new sound replaces the one playing.
// Playing never blocks and never reports errors to the operator: a missing
// file, a file that is no WAV, or a machine without an audio device simply
// give no sound. Use from the user-interface thread only.

#include <QObject>
#include <QString>

class QSoundEffect;

namespace tarvok {

class SoundPlayer : public QObject {
    Q_OBJECT
public:
    // The player shared by the whole program (created on first use, on the
    // calling thread, which must be the user-interface thread).
    static SoundPlayer& instance();

    explicit SoundPlayer(QObject* parent = nullptr);
    ~SoundPlayer() override;

    // Starts playing the WAV file at path and returns at once. Does nothing
    // (and returns false) when no file exists there; otherwise stops the sound
    // playing, if any, and returns true. Whether a sound is actually heard
    // depends on the file's content and on the audio device.
    bool play(const QString& path);

    // Stops the sound playing, if any.
    void stop();

    // The path of the last sound started by play(), empty before the first.
    QString lastStarted() const { return lastStarted_; }
    // Number of sounds started by play() so far.
    int startCount() const { return startCount_; }

    // Without an audio device play() skips the audio backend altogether; tests
    // set this to drive the backend anyway.
    void setUseBackendWithoutDevice(bool on) { useBackendWithoutDevice_ = on; }

signals:
    // Emitted by play() when it starts a sound (after the existence test).
    void started(const QString& path);
    // The audio backend has read the sound started last: it plays now
    // (playing) or cannot be played (not a WAV file, no usable device). A
    // sound replaced or stopped before that reports nothing.
    void loaded(const QString& path, bool playing);

private:
    void playWhenLoaded();

    QSoundEffect* effect_ = nullptr;
    QString lastStarted_;
    int startCount_ = 0;
    bool useBackendWithoutDevice_ = false;
};

} // namespace tarvok
