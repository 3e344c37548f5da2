#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vel {

// Recordings that gave no words yet (Gemini failed and no local text came), kept so that the user
// can try again: WAV files in a folder only the user can enter, the newest kept up to kMaxBytes in
// all, the oldest let go first.
class KeptAudio {
public:
    static constexpr qint64 kMaxBytes = 50 << 20;

    // $XDG_STATE_HOME/velutanora/kept-recordings (~/.local/state/… by default).
    static QString defaultFolder();
    explicit KeptAudio(QString folder = defaultFolder()) : m_folder(std::move(folder)) {}

    // Writes the recording; its file name, or none with the reason.
    std::optional<QString> keep(const QByteArray& wav, QString* failure);
    // The recording of that name, while it is kept.
    std::optional<QByteArray> read(const QString& name) const;
    void remove(const QString& name);
    const QString& folder() const { return m_folder; }

private:
    void prune(const QString& spare);
    QString m_folder;
};

} // namespace vel
