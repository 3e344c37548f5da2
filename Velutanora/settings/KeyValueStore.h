#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vel {

// The per-user store of settings and records: typed values by key. Strings, Booleans,
// integers, doubles and data blobs keep their type. A read of a key whose value has another
// type answers "none", which callers treat as an unreadable value.
class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;

    // The raw stored value, or an undefined QJsonValue when the key is absent.
    virtual QJsonValue value(const QString& key) const = 0;
    // Stores at once (write-through).
    virtual void setValue(const QString& key, const QJsonValue& value) = 0;
    virtual void remove(const QString& key) = 0;

    // Read-modify-write of some keys in one save: `edit` gets their freshest stored values (a
    // file store rereads what other processes wrote) and changes them; a key it leaves out of
    // the object is removed. Keys not named are never touched.
    using Edit = std::function<void(QJsonObject& values)>;
    virtual void modify(const QStringList& keys, const Edit& edit);
    // Keeps bytes that could not be decoded beside the store, so a rewrite never loses them;
    // `reason` goes into the warning.
    virtual void keepAside(const QString& label, const QByteArray& bytes, const QString& reason)
    {
        (void)label;
        (void)bytes;
        (void)reason;
    }

    bool contains(const QString& key) const { return !value(key).isUndefined(); }

    // Runs `edit` on the named keys of an object held in memory, as modify() describes.
    static void editKeys(QJsonObject& object, const QStringList& keys, const Edit& edit);

    std::optional<QString> string(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;

    void setString(const QString& key, const QString& v) { setValue(key, QJsonValue(v)); }
    void setBoolean(const QString& key, bool v) { setValue(key, QJsonValue(v)); }
    void setInteger(const QString& key, qint64 v) { setValue(key, QJsonValue(v)); }
    void setNumber(const QString& key, double v) { setValue(key, QJsonValue(v)); }
    void setData(const QString& key, const QByteArray& bytes);

    // A data blob is stored as {"$data": "<base64>"}.
    static QJsonValue encodeData(const QByteArray& bytes);
    static std::optional<QByteArray> decodeData(const QJsonValue& value);
};

} // namespace vel
