#include "settings/RecordingHistory.h"

#include "common/Clock.h"
#include "settings/DictionaryEntry.h"
#include "settings/KeyValueStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace vel {

namespace {
const QString kHistoryKey = QStringLiteral("recording_history");
}

RecordingHistory::RecordingHistory(KeyValueStore& store, Clock& clock, QObject* parent)
    : QObject(parent), m_store(store), m_clock(clock)
{
    load();
    purgeExpired();
}

RecordingEntry RecordingHistory::makeEntry(const QString& text, const std::optional<QString>& originalText) const
{
    return RecordingEntry{QUuid::createUuid(), text, originalText, referenceDateFromUnix(m_clock.now())};
}

void RecordingHistory::load()
{
    if (auto blob = m_store.data(kHistoryKey)) {
        if (auto decoded = decode(*blob))
            m_entries = *decoded;
    }
}

void RecordingHistory::save()
{
    m_store.setData(kHistoryKey, encode(m_entries));
}

void RecordingHistory::purgeExpired()
{
    const double cutoff = referenceDateFromUnix(m_clock.now()) - kRetentionSeconds;
    const auto before = m_entries.size();
    m_entries.removeIf([cutoff](const RecordingEntry& e) { return e.date < cutoff; });
    if (m_entries.size() != before) {
        save();
        emit entriesChanged();
    }
}

void RecordingHistory::add(const RecordingEntry& entry)
{
    m_entries.prepend(entry);
    save();
    emit entriesChanged();
}

void RecordingHistory::deleteAtOffsets(const QSet<int>& offsets)
{
    QList<int> sorted(offsets.begin(), offsets.end());
    std::sort(sorted.begin(), sorted.end(), std::greater<int>());
    for (int offset : sorted) {
        if (offset >= 0 && offset < m_entries.size())
            m_entries.removeAt(offset);
    }
    save();
    emit entriesChanged();
}

void RecordingHistory::clear()
{
    m_entries.clear();
    save();
    emit entriesChanged();
}

QByteArray RecordingHistory::encode(const QList<RecordingEntry>& entries)
{
    QJsonArray array;
    for (const RecordingEntry& e : entries) {
        QJsonObject o;
        o.insert(QStringLiteral("id"), uuidText(e.id));
        o.insert(QStringLiteral("text"), e.text);
        if (e.originalText)
            o.insert(QStringLiteral("originalText"), *e.originalText);
        o.insert(QStringLiteral("date"), e.date);
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<RecordingEntry>> RecordingHistory::decode(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isArray())
        return std::nullopt;
    QList<RecordingEntry> out;
    for (const QJsonValue& v : doc.array()) {
        if (!v.isObject())
            return std::nullopt;
        const QJsonObject o = v.toObject();
        const QJsonValue id = o.value(QStringLiteral("id"));
        const QJsonValue text = o.value(QStringLiteral("text"));
        const QJsonValue date = o.value(QStringLiteral("date"));
        const QJsonValue original = o.value(QStringLiteral("originalText"));
        if (!id.isString() || !text.isString() || !date.isDouble())
            return std::nullopt;
        const auto uuid = parseUuid(id.toString());
        if (!uuid)
            return std::nullopt;
        RecordingEntry entry{*uuid, text.toString(), std::nullopt, date.toDouble()};
        if (original.isString())
            entry.originalText = original.toString();
        else if (!original.isUndefined() && !original.isNull())
            return std::nullopt;
        out.append(entry);
    }
    return out;
}

} // namespace vel
