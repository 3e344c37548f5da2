#pragma once

#include "settings/KeyValueStore.h"

#include <QJsonObject>
#include <QStringList>

namespace vel::test {

// The store in memory; remembers which keys were written, in order.
class MemoryStore final : public KeyValueStore {
public:
    QJsonValue value(const QString& key) const override { return m_object.value(key); }
    void setValue(const QString& key, const QJsonValue& value) override
    {
        m_object.insert(key, value);
        m_writes.append(key);
    }
    void remove(const QString& key) override
    {
        m_object.remove(key);
        m_writes.append(key);
    }

    // One save, however many keys it changes.
    void modify(const QStringList& keys, const Edit& edit) override
    {
        editKeys(m_object, keys, edit);
        m_writes.append(keys.join(QLatin1Char('+')));
    }

    void keepAside(const QString& label, const QByteArray& bytes, const QString& reason) override
    {
        m_asides.append({label, bytes, reason});
    }
    struct Aside {
        QString label;
        QByteArray bytes;
        QString reason;
    };
    const QList<Aside>& asides() const { return m_asides; }

    // Seeds a value without counting it as a write.
    void seed(const QString& key, const QJsonValue& value) { m_object.insert(key, value); }
    void seedData(const QString& key, const QByteArray& bytes) { m_object.insert(key, encodeData(bytes)); }

    const QStringList& writes() const { return m_writes; }
    void clearWrites() { m_writes.clear(); }
    const QJsonObject& object() const { return m_object; }

private:
    QJsonObject m_object;
    QStringList m_writes;
    QList<Aside> m_asides;
};

} // namespace vel::test
