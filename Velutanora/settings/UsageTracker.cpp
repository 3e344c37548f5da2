#include "settings/UsageTracker.h"

#include "settings/KeyValueStore.h"

namespace vel {

namespace {
const QString kRequests = QStringLiteral("UsageTracker.totalRequests");
const QString kInput = QStringLiteral("UsageTracker.totalInputTokens");
const QString kOutput = QStringLiteral("UsageTracker.totalOutputTokens");
const QString kThinking = QStringLiteral("UsageTracker.totalThinkingTokens");
} // namespace

UsageTracker::UsageTracker(KeyValueStore& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_totalRequests = m_store.integer(kRequests).value_or(0);
    m_totalInputTokens = m_store.integer(kInput).value_or(0);
    m_totalOutputTokens = m_store.integer(kOutput).value_or(0);
    m_totalThinkingTokens = m_store.integer(kThinking).value_or(0);
}

double UsageTracker::estimatedCost() const
{
    return static_cast<double>(m_totalInputTokens) * 0.00000015 + static_cast<double>(m_totalOutputTokens) * 0.0000006
           + static_cast<double>(m_totalThinkingTokens) * 0.0000035;
}

void UsageTracker::assign(qint64& field, qint64 value, const QString& key)
{
    const bool changed = field != value;
    field = value;
    m_store.setInteger(key, value);
    if (changed)
        emit countersChanged();
}

void UsageTracker::setTotalRequests(qint64 value) { assign(m_totalRequests, value, kRequests); }
void UsageTracker::setTotalInputTokens(qint64 value) { assign(m_totalInputTokens, value, kInput); }
void UsageTracker::setTotalOutputTokens(qint64 value) { assign(m_totalOutputTokens, value, kOutput); }
void UsageTracker::setTotalThinkingTokens(qint64 value) { assign(m_totalThinkingTokens, value, kThinking); }

void UsageTracker::recordUsage(const UsageMetadata& usage)
{
    setTotalRequests(m_totalRequests + 1);
    setTotalInputTokens(m_totalInputTokens + usage.promptTokenCount.value_or(0));
    setTotalOutputTokens(m_totalOutputTokens + usage.candidatesTokenCount.value_or(0));
    setTotalThinkingTokens(m_totalThinkingTokens + usage.thoughtsTokenCount.value_or(0));
}

void UsageTracker::reset()
{
    setTotalRequests(0);
    setTotalInputTokens(0);
    setTotalOutputTokens(0);
    setTotalThinkingTokens(0);
}

} // namespace vel
