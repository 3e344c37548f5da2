#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace vel {

// One proper-noun dictionary entry: the recogniser writes `reading`, the text should say `term`.
struct DictionaryEntry {
    QUuid id;
    QString term;
    QString reading;

    static DictionaryEntry make(const QString& term, const QString& reading)
    {
        return DictionaryEntry{QUuid::createUuid(), term, reading};
    }

    friend bool operator==(const DictionaryEntry&, const DictionaryEntry&) = default;

    // JSON array of {"id", "term", "reading"}; every key required, ids as upper-case UUID text.
    static QByteArray encodeList(const QList<DictionaryEntry>& entries);
    static std::optional<QList<DictionaryEntry>> decodeList(const QByteArray& json);
};

// The standard 8-4-4-4-12 upper-case text of a UUID, and its parsing (either case).
QString uuidText(const QUuid& id);
std::optional<QUuid> parseUuid(const QString& text);

} // namespace vel
