#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace vel {

// Where the on-device model stands, as the settings window shows it.
struct ModelState {
    enum class Phase { Unavailable, Absent, Downloading, Installing, Installed, Failed };
    Phase phase = Phase::Absent;
    qint64 received = 0;  // while downloading
    qint64 total = 0;     // while downloading; 0 while unknown
    QString reason;       // Unavailable, Failed
    QString name;         // the model's folder name
    QString directory;    // Installed
    qint64 bytesOnDisk = 0; // Installed
    QString fallback;     // which model stands in for this one, and why (empty: none)
    QStringList installedModels; // the ids of the catalogue's models that are on disk

    bool operator==(const ModelState&) const = default;
    // The card's one line ("ダウンロード中 34 % (16 / 48 MB)", "インストール済み …").
    QString line() const;

private:
    QString phaseLine() const;
};

// The controls over the one installer the launch-time check also uses.
class ModelControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual ModelState state() const = 0;
    // Downloads (or resumes) the chosen model.
    virtual void download() = 0;
    virtual void cancel() = 0;
    // Installs a model archive the user fetched elsewhere.
    virtual void installArchive(const QString& zipPath) = 0;
    virtual void remove() = 0;

signals:
    void stateChanged();
};

} // namespace vel
