#include "desktop/CommandLine.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "settings/AppSettings.h"
#include "settings/JsonFileStore.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace vel {

namespace {

QJsonObject shortcutJson(const ShortcutKey& key)
{
    QJsonObject o;
    o.insert(QStringLiteral("keyCode"), static_cast<qint64>(key.keyCode));
    o.insert(QStringLiteral("modifiers"), static_cast<qint64>(key.modifiers));
    o.insert(QStringLiteral("display"), key.displayString());
    return o;
}

QString maskedKey(const QString& key)
{
    if (key.isEmpty())
        return {};
    return QStringLiteral("…") + key.right(4);
}

QString isoUtc(double referenceSeconds)
{
    const double unix = unixFromReferenceDate(referenceSeconds);
    const auto ms = static_cast<qint64>(std::floor(unix * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

} // namespace

QString CommandLine::usageLine()
{
    return QStringLiteral("usage: velutanora [--version | --help | --print-settings]");
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Velutanora — Japanese dictation for the Linux desktop (日本語音声入力)\n"
        "\n"
        "%1\n"
        "\n"
        "  --version          print the version and exit\n"
        "  --help             print this help and exit\n"
        "  --print-settings   print the stored settings, history and usage as JSON\n")
        .arg(usageLine());
}

void CommandLine::write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int CommandLine::usageError(const QString& message)
{
    write(m_err, QStringLiteral("velutanora: %1\n%2\n").arg(message, usageLine()));
    return 2;
}

int CommandLine::run(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty()) {
        write(m_out, helpText());
        return 0;
    }
    const QString& command = args.first();
    if (args.size() == 1 && command == QLatin1String("--version")) {
        write(m_out, QStringLiteral("velutanora %1\n").arg(QStringLiteral(VELUTANORA_VERSION)));
        return 0;
    }
    if (args.size() == 1 && (command == QLatin1String("--help") || command == QLatin1String("-h"))) {
        write(m_out, helpText());
        return 0;
    }
    if (args.size() == 1 && command == QLatin1String("--print-settings"))
        return printSettings();
    if (command == QLatin1String("--version") || command == QLatin1String("--help")
        || command == QLatin1String("--print-settings"))
        return usageError(QStringLiteral("%1 takes no arguments").arg(command));
    return usageError(QStringLiteral("unknown argument: %1").arg(command));
}

int CommandLine::printSettings()
{
    StreamLogger log(m_err);
    SystemClock clock;
    JsonFileStore store(JsonFileStore::defaultPath(), log);
    AppSettings settings(store);
    RecordingHistory history(store, clock);
    UsageTracker usage(store);

    QJsonObject o;
    o.insert(QStringLiteral("geminiApiKey"), maskedKey(settings.geminiApiKey()));
    o.insert(QStringLiteral("removeFillers"), settings.removeFillers());
    QJsonArray dictionary;
    for (const DictionaryEntry& e : settings.dictionaryEntries()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("id"), uuidText(e.id));
        entry.insert(QStringLiteral("term"), e.term);
        entry.insert(QStringLiteral("reading"), e.reading);
        dictionary.append(entry);
    }
    o.insert(QStringLiteral("dictionaryEntries"), dictionary);
    o.insert(QStringLiteral("startShortcut"), shortcutJson(settings.startShortcut()));
    o.insert(QStringLiteral("cancelShortcut"), shortcutJson(settings.cancelShortcut()));
    o.insert(QStringLiteral("appearanceMode"), rawValue(settings.appearanceMode()));
    o.insert(QStringLiteral("userOccupation"), settings.userOccupation());
    o.insert(QStringLiteral("correctionMode"), rawValue(settings.correctionMode()));
    o.insert(QStringLiteral("assumePoorDiction"), settings.assumePoorDiction());
    o.insert(QStringLiteral("continuousMode"), rawValue(settings.continuousMode()));
    o.insert(QStringLiteral("continuousSilenceSeconds"), settings.continuousSilenceSeconds());
    o.insert(QStringLiteral("stealthMode"), settings.stealthMode());
    o.insert(QStringLiteral("contextualStrings"), QJsonArray::fromStringList(settings.contextualStrings()));
    QJsonArray entries;
    for (const RecordingEntry& e : history.entries()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("id"), uuidText(e.id));
        entry.insert(QStringLiteral("text"), e.text);
        if (e.originalText)
            entry.insert(QStringLiteral("originalText"), *e.originalText);
        entry.insert(QStringLiteral("date"), isoUtc(e.date));
        entries.append(entry);
    }
    o.insert(QStringLiteral("history"), entries);
    QJsonObject counters;
    counters.insert(QStringLiteral("totalRequests"), usage.totalRequests());
    counters.insert(QStringLiteral("totalInputTokens"), usage.totalInputTokens());
    counters.insert(QStringLiteral("totalOutputTokens"), usage.totalOutputTokens());
    counters.insert(QStringLiteral("totalThinkingTokens"), usage.totalThinkingTokens());
    counters.insert(QStringLiteral("estimatedCost"), usage.estimatedCost());
    o.insert(QStringLiteral("usage"), counters);

    write(m_out, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
    return 0;
}

} // namespace vel
