#pragma once

#include "settings/KeyValueStore.h"

#include <QJsonObject>
#include <QSet>

#include <functional>

namespace vel {

class Logger;

// The store as one JSON object in one file, rewritten atomically on every assignment:
// a temporary file in the same folder is written, flushed to disk and renamed over the old
// one, so a crash leaves either the old or the new file. The file is readable by its owner
// only, since it holds the Gemini API key. Keys the program does not know are kept.
// Several processes share the file (the program and its command line): every save rereads it
// under an advisory lock (flock of "<file>.lock") and writes back only the keys it changed.
class JsonFileStore final : public KeyValueStore {
public:
    JsonFileStore(QString path, Logger& log);

    // $XDG_CONFIG_HOME/velutanora/defaults.json, or ~/.config/velutanora/defaults.json.
    static QString defaultPath();

    QJsonValue value(const QString& key) const override;
    void setValue(const QString& key, const QJsonValue& value) override;
    void remove(const QString& key) override;
    void modify(const QStringList& keys, const Edit& edit) override;
    void keepAside(const QString& label, const QByteArray& bytes, const QString& reason) override;

    const QString& path() const { return m_path; }
    const QJsonObject& object() const { return m_object; }

    // Writes bytes to path atomically with mode 0600. beforeRename runs after the temporary
    // file is on disk and before it replaces the old one; returning false abandons the write
    // (the temporary file is removed). Returns an empty string on success, else the reason.
    static QString writeAtomically(const QString& path, const QByteArray& bytes,
                                   const std::function<bool()>& beforeRename = {});

private:
    void load();
    // Rereads the file into m_object (keeping changes that never reached it); false when it can
    // no longer be written safely.
    bool reload();
    // The file written: the target of a symbolic link, so the link stays.
    QString targetPath() const;
    QString asideName(const QString& label) const;
    void removeStaleTemporaries();

    QString m_path;
    Logger& m_log;
    QJsonObject m_object;
    // Keys whose value in memory never reached the file (a save failed).
    QSet<QString> m_unsaved;
    // Set when an existing file could not be read, or is read-only: writing would destroy what it
    // holds or override the user's choice. Changes then stay in memory.
    QString m_notWritable;
};

} // namespace vel
