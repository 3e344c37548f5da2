#include "settings/DictionaryEntry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace vel {

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseUuid(const QString& text)
{
    static const QRegularExpression shape(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

QByteArray DictionaryEntry::encodeList(const QList<DictionaryEntry>& entries)
{
    QJsonArray array;
    for (const DictionaryEntry& e : entries) {
        QJsonObject o;
        o.insert(QStringLiteral("id"), uuidText(e.id));
        o.insert(QStringLiteral("term"), e.term);
        o.insert(QStringLiteral("reading"), e.reading);
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<DictionaryEntry>> DictionaryEntry::decodeList(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isArray())
        return std::nullopt;
    QList<DictionaryEntry> entries;
    for (const QJsonValue& v : doc.array()) {
        if (!v.isObject())
            return std::nullopt;
        const QJsonObject o = v.toObject();
        const QJsonValue id = o.value(QStringLiteral("id"));
        const QJsonValue term = o.value(QStringLiteral("term"));
        const QJsonValue reading = o.value(QStringLiteral("reading"));
        if (!id.isString() || !term.isString() || !reading.isString())
            return std::nullopt;
        const auto uuid = parseUuid(id.toString());
        if (!uuid)
            return std::nullopt;
        entries.append(DictionaryEntry{*uuid, term.toString(), reading.toString()});
    }
    return entries;
}

} // namespace vel
