#include "app/UpdaterService.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "settings/AppSettings.h"
#include "settings/KeyValueStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QVersionNumber>

namespace vel {

namespace {
const QString kLastCheck = QStringLiteral("last_update_check");
constexpr double kDay = 86400.0;
} // namespace

UpdaterService::UpdaterService(Logger& log, Clock& clock, AppSettings& settings, QNetworkAccessManager& network,
                               QString currentVersion, QObject* parent)
    : QObject(parent), m_log(log), m_clock(clock), m_settings(settings), m_network(network),
      m_current(std::move(currentVersion))
{
    connect(&m_settings, &AppSettings::automaticallyChecksForUpdatesChanged, this,
            &UpdaterService::automaticallyChecksForUpdatesChanged);
}

UpdaterService::~UpdaterService() = default;

QString UpdaterService::feedUrl() const
{
    return m_settings.store().string(QStringLiteral("update_feed_url")).value_or(QString());
}

bool UpdaterService::canCheckForUpdates() const { return !m_checking && !feedUrl().isEmpty(); }
bool UpdaterService::automaticallyChecksForUpdates() const { return m_settings.automaticallyChecksForUpdates(); }

void UpdaterService::setAutomaticallyChecksForUpdates(bool value)
{
    m_settings.setAutomaticallyChecksForUpdates(value);
    if (value)
        maybeCheckAutomatically();
}

void UpdaterService::start()
{
    maybeCheckAutomatically();
    QPointer<UpdaterService> self(this);
    m_daily = m_clock.schedule(3600.0, true, [self] {
        if (self)
            self->maybeCheckAutomatically();
    });
}

void UpdaterService::maybeCheckAutomatically()
{
    if (!automaticallyChecksForUpdates() || !canCheckForUpdates())
        return;
    const double last = m_settings.store().number(kLastCheck).value_or(0.0);
    if (m_clock.now() - last < kDay)
        return;
    checkForUpdates(false);
}

void UpdaterService::checkForUpdates(bool userInitiated)
{
    if (!canCheckForUpdates())
        return;
    m_checking = true;
    emit canCheckForUpdatesChanged();
    spawn(this, check(userInitiated));
}

bool UpdaterService::isNewer(const QString& published, const QString& current)
{
    const QVersionNumber a = QVersionNumber::fromString(published);
    const QVersionNumber b = QVersionNumber::fromString(current);
    return !a.isNull() && QVersionNumber::compare(a, b) > 0;
}

Task<void> UpdaterService::check(bool userInitiated)
{
    QNetworkRequest request{QUrl(feedUrl())};
    request.setTransferTimeout(15000);
    QNetworkReply* reply = m_network.get(request);
    Completion<Unit> done;
    connect(reply, &QNetworkReply::finished, reply, [done] { done.resolve(Unit{}); });
    co_await done;
    const QByteArray body = reply->readAll();
    const bool ok = reply->error() == QNetworkReply::NoError;
    reply->deleteLater();
    m_checking = false;
    m_settings.store().setNumber(kLastCheck, m_clock.now());

    Outcome outcome = Outcome::Failed;
    const QJsonObject feed = QJsonDocument::fromJson(body).object();
    if (ok && feed.value(QStringLiteral("version")).isString()) {
        m_release = Release{feed.value(QStringLiteral("version")).toString(), QUrl(feed.value(QStringLiteral("url")).toString()),
                            feed.value(QStringLiteral("notes")).toString()};
        outcome = isNewer(m_release.version, m_current) ? Outcome::UpdateAvailable : Outcome::UpToDate;
        m_log.line(QStringLiteral("🆕 [Updater] published %1, running %2").arg(m_release.version, m_current));
    } else {
        m_log.line(QStringLiteral("⚠️ [Updater] the release feed could not be read"));
    }
    emit canCheckForUpdatesChanged();
    emit checked(outcome, userInitiated);
}

} // namespace vel
