#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace vel {

class Clock;
class KeyValueStore;

// One delivered dictation result, or a recording that gave no words yet.
struct RecordingEntry {
    QUuid id;
    QString text;
    std::optional<QString> originalText;
    // Seconds since 2001-01-01 00:00:00 UTC: the encoding stored histories use.
    double date = 0;
    // A recording kept for a later try: its file among the kept recordings, and why it has no
    // words yet ("keptAudio", "untranscribed"; both empty for a result).
    QString keptAudio;
    QString untranscribed;

    bool isUntranscribed() const { return !keptAudio.isEmpty(); }

    friend bool operator==(const RecordingEntry&, const RecordingEntry&) = default;
};

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
inline constexpr double kReferenceDateOffset = 978307200.0;
inline double referenceDateFromUnix(double unixSeconds) { return unixSeconds - kReferenceDateOffset; }
inline double unixFromReferenceDate(double referenceSeconds) { return referenceSeconds + kReferenceDateOffset; }

// The results of the last seven days, newest first, persisted under "recording_history".
class RecordingHistory final : public QObject {
    Q_OBJECT
public:
    static constexpr double kRetentionSeconds = 604800.0;

    RecordingHistory(KeyValueStore& store, Clock& clock, QObject* parent = nullptr);

    const QList<RecordingEntry>& entries() const { return m_entries; }

    // A new entry with a fresh id, dated now.
    RecordingEntry makeEntry(const QString& text, const std::optional<QString>& originalText) const;

    void purgeExpired();
    void add(const RecordingEntry& entry);
    // Replaces the entry of the same id (a kept recording that now has its words); false when
    // there is none.
    bool update(const RecordingEntry& entry);
    std::optional<RecordingEntry> entry(const QUuid& id) const;
    void deleteAtOffsets(const QSet<int>& offsets);
    void clear();

    static QByteArray encode(const QList<RecordingEntry>& entries);
    // The entries that decode; none when the blob is not a list at all. `skipped` counts the
    // entries left out (malformed, a date that cannot be shown, a repeated id).
    static std::optional<QList<RecordingEntry>> decode(const QByteArray& json, int* skipped = nullptr);

signals:
    // The new entry is now the first and nothing else moved: a list adds one row.
    void entryAdded();
    // Anything else (deletions, a purge, entries merged in from another process).
    void entriesChanged();

private:
    void load();
    // Merges by id with what other processes stored meanwhile, unless replacing everything.
    // True when that merge changed the list beyond what this process did.
    bool save(bool replaceAll = false);

    KeyValueStore& m_store;
    Clock& m_clock;
    QList<RecordingEntry> m_entries;
    // Since the last save: entries added here (kept although the store lacks them) and entries
    // deleted or purged here (a merge must not bring them back).
    QSet<QUuid> m_added;
    QSet<QUuid> m_forgotten;
    bool m_replaced = false; // an entry was replaced in place: the stored text is written anew
    QByteArray m_lastBlob; // the history as this process last read or wrote it
    QJsonValue m_lastStored; // and its stored form, to see without decoding that nobody changed it
};

} // namespace vel
