#pragma once

#include "settings/KeyValueStore.h"

#include <QJsonObject>

namespace vel::bench {

// A store in memory, so benchmarks measure the program and not the disk.
class BenchStore final : public KeyValueStore {
public:
    QJsonValue value(const QString& key) const override { return m_o.value(key); }
    void setValue(const QString& key, const QJsonValue& v) override { m_o.insert(key, v); }
    void remove(const QString& key) override { m_o.remove(key); }

private:
    QJsonObject m_o;
};

} // namespace vel::bench
