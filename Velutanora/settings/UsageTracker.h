#pragma once

#include "settings/UsageMetadata.h"

#include <QObject>

#include <array>
#include <functional>

namespace vel {

class KeyValueStore;

// Gemini usage since the last reset, with an estimated cost in US dollars.
class UsageTracker final : public QObject {
    Q_OBJECT
public:
    explicit UsageTracker(KeyValueStore& store, QObject* parent = nullptr);

    qint64 totalRequests() const { return m_totalRequests; }
    qint64 totalInputTokens() const { return m_totalInputTokens; }
    qint64 totalOutputTokens() const { return m_totalOutputTokens; }
    qint64 totalThinkingTokens() const { return m_totalThinkingTokens; }
    double estimatedCost() const;

    void setTotalRequests(qint64 value);
    void setTotalInputTokens(qint64 value);
    void setTotalOutputTokens(qint64 value);
    void setTotalThinkingTokens(qint64 value);

    void recordUsage(const UsageMetadata& usage);
    void reset();

signals:
    void countersChanged();

private:
    // Applies a change to the stored counters (requests, input, output, thinking) in one save.
    void update(const std::function<std::array<qint64, 4>(std::array<qint64, 4>)>& change);
    void set(size_t index, qint64 value);

    KeyValueStore& m_store;
    qint64 m_totalRequests = 0;
    qint64 m_totalInputTokens = 0;
    qint64 m_totalOutputTokens = 0;
    qint64 m_totalThinkingTokens = 0;
};

} // namespace vel
