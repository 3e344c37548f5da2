#include "settings/UsageTracker.h"

#include "settings/KeyValueStore.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vel {

namespace {
const QString kRequests = QStringLiteral("UsageTracker.totalRequests");
const QString kInput = QStringLiteral("UsageTracker.totalInputTokens");
const QString kOutput = QStringLiteral("UsageTracker.totalOutputTokens");
const QString kThinking = QStringLiteral("UsageTracker.totalThinkingTokens");
// A stored counter as a count: never negative, and at most the largest one (a value past it,
// written by hand or by another program, would otherwise wrap negative at the next request).
qint64 storedCount(const QJsonValue& v)
{
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d <= 0)
        return 0;
    if (d >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    return std::max<qint64>(0, v.toInteger(static_cast<qint64>(d)));
}

} // namespace

UsageTracker::UsageTracker(KeyValueStore& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_totalRequests = storedCount(m_store.value(kRequests));
    m_totalInputTokens = storedCount(m_store.value(kInput));
    m_totalOutputTokens = storedCount(m_store.value(kOutput));
    m_totalThinkingTokens = storedCount(m_store.value(kThinking));
}

double UsageTracker::estimatedCost() const
{
    return static_cast<double>(m_totalInputTokens) * 0.00000015 + static_cast<double>(m_totalOutputTokens) * 0.0000006
           + static_cast<double>(m_totalThinkingTokens) * 0.0000035;
}

namespace {

// Counters stop at the largest value instead of wrapping negative.
qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

} // namespace

void UsageTracker::update(const std::function<std::array<qint64, 4>(std::array<qint64, 4>)>& change)
{
    const QStringList keys{kRequests, kInput, kOutput, kThinking};
    const std::array<qint64, 4> before{m_totalRequests, m_totalInputTokens, m_totalOutputTokens, m_totalThinkingTokens};
    // One save of the four, starting from the stored figures: another process's requests count too.
    m_store.modify(keys, [&](QJsonObject& values) {
        std::array<qint64, 4> current{};
        for (qsizetype i = 0; i < keys.size(); ++i) {
            current[static_cast<size_t>(i)] = storedCount(values.value(keys[i]));
        }
        const std::array<qint64, 4> next = change(current);
        for (qsizetype i = 0; i < keys.size(); ++i)
            values.insert(keys[i], QJsonValue(next[static_cast<size_t>(i)]));
        m_totalRequests = next[0];
        m_totalInputTokens = next[1];
        m_totalOutputTokens = next[2];
        m_totalThinkingTokens = next[3];
    });
    const std::array<qint64, 4> after{m_totalRequests, m_totalInputTokens, m_totalOutputTokens, m_totalThinkingTokens};
    if (after != before)
        emit countersChanged();
}

void UsageTracker::set(size_t index, qint64 value)
{
    update([index, value](std::array<qint64, 4> c) {
        c[index] = value;
        return c;
    });
}

void UsageTracker::setTotalRequests(qint64 value) { set(0, value); }
void UsageTracker::setTotalInputTokens(qint64 value) { set(1, value); }
void UsageTracker::setTotalOutputTokens(qint64 value) { set(2, value); }
void UsageTracker::setTotalThinkingTokens(qint64 value) { set(3, value); }

void UsageTracker::recordUsage(const UsageMetadata& usage)
{
    update([&usage](std::array<qint64, 4> c) {
        c[0] = saturatingAdd(c[0], 1);
        c[1] = saturatingAdd(c[1], usage.promptTokenCount.value_or(0));
        c[2] = saturatingAdd(c[2], usage.candidatesTokenCount.value_or(0));
        c[3] = saturatingAdd(c[3], usage.thoughtsTokenCount.value_or(0));
        return c;
    });
}

void UsageTracker::reset()
{
    update([](std::array<qint64, 4>) { return std::array<qint64, 4>{}; });
}

} // namespace vel
