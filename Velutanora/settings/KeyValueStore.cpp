#include "settings/KeyValueStore.h"

#include <QJsonObject>

#include <cmath>

namespace vel {

namespace {
const QString kDataKey = QStringLiteral("$data");
}

std::optional<QString> KeyValueStore::string(const QString& key) const
{
    const QJsonValue v = value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

std::optional<bool> KeyValueStore::boolean(const QString& key) const
{
    const QJsonValue v = value(key);
    if (!v.isBool())
        return std::nullopt;
    return v.toBool();
}

std::optional<qint64> KeyValueStore::integer(const QString& key) const
{
    const QJsonValue v = value(key);
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d)
        return std::nullopt;
    // toInteger keeps the full 64-bit value that JSON parsing preserved.
    return v.toInteger(static_cast<qint64>(d));
}

std::optional<double> KeyValueStore::number(const QString& key) const
{
    const QJsonValue v = value(key);
    if (!v.isDouble())
        return std::nullopt;
    return v.toDouble();
}

std::optional<QByteArray> KeyValueStore::data(const QString& key) const
{
    return decodeData(value(key));
}

void KeyValueStore::modify(const QStringList& keys, const Edit& edit)
{
    QJsonObject values;
    for (const QString& key : keys) {
        const QJsonValue v = value(key);
        if (!v.isUndefined())
            values.insert(key, v);
    }
    edit(values);
    for (const QString& key : keys) {
        if (values.contains(key))
            setValue(key, values.value(key));
        else if (contains(key))
            remove(key);
    }
}

void KeyValueStore::editKeys(QJsonObject& object, const QStringList& keys, const Edit& edit)
{
    QJsonObject values;
    for (const QString& key : keys) {
        if (object.contains(key))
            values.insert(key, object.value(key));
    }
    edit(values);
    for (const QString& key : keys) {
        if (values.contains(key))
            object.insert(key, values.value(key));
        else
            object.remove(key);
    }
}

void KeyValueStore::setData(const QString& key, const QByteArray& bytes)
{
    setValue(key, encodeData(bytes));
}

QJsonValue KeyValueStore::encodeData(const QByteArray& bytes)
{
    QJsonObject o;
    o.insert(kDataKey, QString::fromLatin1(bytes.toBase64()));
    return o;
}

std::optional<QByteArray> KeyValueStore::decodeData(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    if (o.size() != 1 || !o.value(kDataKey).isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(o.value(kDataKey).toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

} // namespace vel
