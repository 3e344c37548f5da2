#pragma once

#include "common/Task.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;

namespace vel {

class AppSettings;
class Clock;
class ClockTimer;
class KeyValueStore;
class Logger;

// Checks a JSON release feed ({"version", "url", "notes"}) at the hidden setting
// "update_feed_url". Nothing is downloaded or installed: what it finds is shown with a link.
class UpdaterService final : public QObject {
    Q_OBJECT
public:
    struct Release {
        QString version;
        QUrl url;
        QString notes;
    };
    enum class Outcome { UpdateAvailable, UpToDate, Failed };
    Q_ENUM(Outcome)

    UpdaterService(Logger& log, Clock& clock, AppSettings& settings, QNetworkAccessManager& network,
                   QString currentVersion, QObject* parent = nullptr);
    ~UpdaterService() override;

    // Started at launch: honours the automatic check once a day.
    void start();
    bool canCheckForUpdates() const;
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool value);
    // The check action; `userInitiated` checks also report "up to date" and failures.
    void checkForUpdates(bool userInitiated = true);

    QString feedUrl() const;
    const Release& lastRelease() const { return m_release; }
    static bool isNewer(const QString& published, const QString& current);

signals:
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    void checked(UpdaterService::Outcome outcome, bool userInitiated);

private:
    Task<void> check(bool userInitiated);
    void maybeCheckAutomatically();

    Logger& m_log;
    Clock& m_clock;
    AppSettings& m_settings;
    QNetworkAccessManager& m_network;
    QString m_current;
    bool m_checking = false;
    Release m_release;
    std::unique_ptr<ClockTimer> m_daily;
};

} // namespace vel
