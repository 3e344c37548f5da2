#include "settings/RecordingHistory.h"

#include "common/Clock.h"
#include "settings/DictionaryEntry.h"
#include "settings/KeyValueStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

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
    return RecordingEntry{QUuid::createUuid(), text, originalText, referenceDateFromUnix(m_clock.now()), {}, {}};
}

void RecordingHistory::load()
{
    const QJsonValue raw = m_store.value(kHistoryKey);
    if (raw.isUndefined())
        return;
    const std::optional<QByteArray> blob = KeyValueStore::decodeData(raw);
    int skipped = 0;
    const auto decoded = blob ? decode(*blob, &skipped) : std::nullopt;
    if (decoded)
        m_entries = *decoded;
    if (decoded && skipped == 0) {
        m_lastBlob = *blob;
        m_lastStored = raw;
        return;
    }
    // The next save rewrites the history: keep the original of what could not be read.
    const QByteArray original = blob ? *blob : QJsonDocument(QJsonArray{raw}).toJson(QJsonDocument::Compact);
    m_store.keepAside(kHistoryKey, original,
                      decoded ? QStringLiteral("skipped %1 undecodable history entries").arg(skipped)
                              : QStringLiteral("the history could not be decoded"));
}

bool RecordingHistory::save(bool replaceAll)
{
    bool mergedIn = false;
    m_store.modify({kHistoryKey}, [this, replaceAll, &mergedIn](QJsonObject& values) {
        const QJsonValue raw = values.value(kHistoryKey);
        // Unchanged since our last load or save: nothing of others' to merge, and a long
        // history need not be decoded again (its stored text is compared, not decoded).
        const bool untouched = !m_lastStored.isUndefined() && raw == m_lastStored;
        const auto blob = untouched || replaceAll ? std::nullopt : KeyValueStore::decodeData(raw);
        const auto stored = blob ? decode(*blob) : std::nullopt;
        if (stored) {
            // Merge by id with what other processes stored since: theirs join ours, and an entry
            // we only read and that is gone from the store was deleted there.
            QSet<QUuid> storedIds;
            for (const RecordingEntry& e : *stored)
                storedIds.insert(e.id);
            QList<RecordingEntry> merged;
            QSet<QUuid> known;
            for (const RecordingEntry& e : std::as_const(m_entries)) {
                if (m_added.contains(e.id) || storedIds.contains(e.id)) {
                    merged.append(e);
                    known.insert(e.id);
                }
            }
            const double cutoff = referenceDateFromUnix(m_clock.now()) - kRetentionSeconds;
            for (const RecordingEntry& e : *stored) {
                if (!known.contains(e.id) && !m_forgotten.contains(e.id) && e.date >= cutoff)
                    merged.append(e);
            }
            std::stable_sort(merged.begin(), merged.end(),
                             [](const RecordingEntry& a, const RecordingEntry& b) { return a.date > b.date; });
            mergedIn = !std::equal(merged.begin(), merged.end(), m_entries.begin(), m_entries.end(),
                                   [](const RecordingEntry& a, const RecordingEntry& b) { return a.id == b.id; });
            m_entries = std::move(merged);
        }
        // One new entry in front of what is stored: its text goes in front of the stored text,
        // so a long history is not encoded again on every dictation.
        const bool prepended = untouched && !mergedIn && !m_replaced && m_forgotten.isEmpty() && m_added.size() == 1
                               && !m_entries.isEmpty() && m_added.contains(m_entries.first().id)
                               && m_lastBlob.startsWith('[');
        if (prepended) {
            const QByteArray first = encode({m_entries.first()});
            m_lastBlob = first.chopped(1) + (m_lastBlob.size() > 2 ? QByteArray(",") : QByteArray()) + m_lastBlob.mid(1);
        } else {
            m_lastBlob = encode(m_entries);
        }
        m_lastStored = KeyValueStore::encodeData(m_lastBlob);
        values.insert(kHistoryKey, m_lastStored);
    });
    m_added.clear();
    m_forgotten.clear();
    m_replaced = false;
    return mergedIn;
}

void RecordingHistory::purgeExpired()
{
    const double cutoff = referenceDateFromUnix(m_clock.now()) - kRetentionSeconds;
    const auto before = m_entries.size();
    m_entries.removeIf([this, cutoff](const RecordingEntry& e) {
        if (e.date >= cutoff)
            return false;
        m_forgotten.insert(e.id);
        return true;
    });
    if (m_entries.size() != before) {
        save();
        emit entriesChanged();
    }
}

void RecordingHistory::add(const RecordingEntry& entry)
{
    m_entries.prepend(entry);
    m_added.insert(entry.id);
    if (save())
        emit entriesChanged();
    else
        emit entryAdded();
}

bool RecordingHistory::update(const RecordingEntry& entry)
{
    for (RecordingEntry& e : m_entries) {
        if (e.id != entry.id)
            continue;
        e = entry;
        m_added.insert(entry.id); // ours wins a merge with what another process stored
        m_replaced = true;
        save();
        emit entriesChanged();
        return true;
    }
    return false;
}

std::optional<RecordingEntry> RecordingHistory::entry(const QUuid& id) const
{
    for (const RecordingEntry& e : m_entries)
        if (e.id == id)
            return e;
    return std::nullopt;
}

void RecordingHistory::deleteAtOffsets(const QSet<int>& offsets)
{
    QList<int> sorted(offsets.begin(), offsets.end());
    std::sort(sorted.begin(), sorted.end(), std::greater<int>());
    for (int offset : sorted) {
        if (offset >= 0 && offset < m_entries.size()) {
            m_forgotten.insert(m_entries.at(offset).id);
            m_entries.removeAt(offset);
        }
    }
    save();
    emit entriesChanged();
}

void RecordingHistory::clear()
{
    for (const RecordingEntry& e : std::as_const(m_entries))
        m_forgotten.insert(e.id);
    m_entries.clear();
    save(true);
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
        if (e.isUntranscribed()) {
            o.insert(QStringLiteral("keptAudio"), e.keptAudio);
            o.insert(QStringLiteral("untranscribed"), e.untranscribed);
        }
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<RecordingEntry>> RecordingHistory::decode(const QByteArray& json, int* skipped)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isArray())
        return std::nullopt;
    // Dates the program can show: 1970 to the end of year 9999.
    constexpr double kLatestUnix = 253402300799.0;
    QList<RecordingEntry> out;
    QSet<QUuid> seen;
    int bad = 0;
    for (const QJsonValue& v : doc.array()) {
        const QJsonObject o = v.toObject();
        const QJsonValue id = o.value(QStringLiteral("id"));
        const QJsonValue text = o.value(QStringLiteral("text"));
        const QJsonValue date = o.value(QStringLiteral("date"));
        const QJsonValue original = o.value(QStringLiteral("originalText"));
        const auto uuid = id.isString() ? parseUuid(id.toString()) : std::nullopt;
        const double unix = unixFromReferenceDate(date.toDouble());
        const bool originalOk = original.isString() || original.isUndefined() || original.isNull();
        if (!v.isObject() || !uuid || seen.contains(*uuid) || !text.isString() || !date.isDouble()
            || !std::isfinite(unix) || unix < 0 || unix > kLatestUnix || !originalOk) {
            ++bad;
            continue;
        }
        seen.insert(*uuid);
        RecordingEntry entry{*uuid, text.toString(), std::nullopt, date.toDouble(), {}, {}};
        if (original.isString())
            entry.originalText = original.toString();
        // Only a plain file name: the kept recordings' folder is the program's own.
        const QString kept = o.value(QStringLiteral("keptAudio")).toString();
        if (!kept.isEmpty() && !kept.contains(QLatin1Char('/')) && !kept.startsWith(QLatin1Char('.'))) {
            entry.keptAudio = kept;
            entry.untranscribed = o.value(QStringLiteral("untranscribed")).toString();
        }
        out.append(entry);
    }
    if (skipped)
        *skipped = bad;
    return out;
}

} // namespace vel
