#pragma once

#include <QString>

namespace vel {

// The plain-text diagnostic file of the silence detector and the pipeline. It holds fragments of
// what the user said, so it lives in the user's own state folder (not a folder every user of the
// machine shares), is never followed through a symbolic link, is created readable by its owner
// only, and a file owned by someone else is left alone. Every failure is silent.
class DebugLog {
public:
    // $XDG_STATE_HOME/velutanora/velutanora_debug.log, or ~/.local/state/velutanora/… when unset.
    static QString defaultPath();

    explicit DebugLog(QString path = defaultPath()) : m_path(std::move(path)) {}

    // Appends the text, creating the file when it does not exist.
    void append(const QString& text) const;
    // Appends only to a file that already exists.
    void appendIfExists(const QString& text) const;

    const QString& path() const { return m_path; }

private:
    void write(const QString& text, bool create) const;
    QString m_path;
};

} // namespace vel
