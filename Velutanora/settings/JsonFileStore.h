#pragma once

#include "settings/KeyValueStore.h"

#include <QJsonObject>

#include <functional>

namespace vel {

class Logger;

// The store as one JSON object in one file, rewritten atomically on every assignment:
// a temporary file in the same folder is written, flushed to disk and renamed over the old
// one, so a crash leaves either the old or the new file. The file is readable by its owner
// only, since it holds the Gemini API key. Keys the program does not know are kept.
class JsonFileStore final : public KeyValueStore {
public:
    JsonFileStore(QString path, Logger& log);

    // $XDG_CONFIG_HOME/velutanora/defaults.json, or ~/.config/velutanora/defaults.json.
    static QString defaultPath();

    QJsonValue value(const QString& key) const override;
    void setValue(const QString& key, const QJsonValue& value) override;
    void remove(const QString& key) override;

    const QString& path() const { return m_path; }
    const QJsonObject& object() const { return m_object; }

    // Writes bytes to path atomically with mode 0600. beforeRename runs after the temporary
    // file is on disk and before it replaces the old one; returning false abandons the write
    // (the temporary file is removed). Returns an empty string on success, else the reason.
    static QString writeAtomically(const QString& path, const QByteArray& bytes,
                                   const std::function<bool()>& beforeRename = {});

private:
    void load();
    void save();

    QString m_path;
    Logger& m_log;
    QJsonObject m_object;
    // False when an existing file could not be read: writing would destroy what it holds.
    bool m_writable = true;
};

} // namespace vel
