#pragma once

#include "settings/KeyValueStore.h"

#include <QJsonObject>

namespace vel {

// Reads through to another store; keeps its own writes in memory. For a run whose choices
// (a mode given on the command line) must not change what the user stored.
class MemoryOverlayStore final : public KeyValueStore {
public:
    explicit MemoryOverlayStore(const KeyValueStore& base) : m_base(base) {}
    QJsonValue value(const QString& key) const override
    {
        if (m_removed.contains(key))
            return QJsonValue(QJsonValue::Undefined);
        return m_overlay.contains(key) ? m_overlay.value(key) : m_base.value(key);
    }
    void setValue(const QString& key, const QJsonValue& value) override
    {
        m_removed.remove(key);
        m_overlay.insert(key, value);
    }
    void remove(const QString& key) override
    {
        m_overlay.remove(key);
        m_removed.insert(key, true);
    }

private:
    const KeyValueStore& m_base;
    QJsonObject m_overlay;
    QJsonObject m_removed;
};

} // namespace vel
