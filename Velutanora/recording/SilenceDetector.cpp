#include "recording/SilenceDetector.h"

#include "common/TextTrim.h"

#include <algorithm>

namespace vel {

namespace {

QString p4(double v) { return QString::number(v, 'f', 4); }
QString p1(double v) { return QString::number(v, 'f', 1); }

} // namespace

SilenceDetector::SilenceDetector(double silenceSeconds, const QString& textSnapshot, double now)
    : m_silenceSeconds(silenceSeconds), m_lastSnapshot(textSnapshot), m_lastTextChangeTime(now)
{
}

SilenceDetector::Tick SilenceDetector::tick(float level, const QString& snapshot, const QString& latestText, double now)
{
    Tick out;
    m_smoothedLevel = m_smoothedLevel * 0.7f + level * 0.3f;
    if (m_warmupTicks < 5) {
        ++m_warmupTicks;
        return out;
    }
    const int previousSilentFrames = m_silentFrames;
    m_peakLevel = std::max(m_smoothedLevel, m_peakLevel * 0.998f);

    bool textChanged = false;
    if (snapshot != m_lastSnapshot) {
        textChanged = true;
        m_lastSnapshot = snapshot;
        m_lastTextChangeTime = now;
        m_hasSpeechInput = true;
        m_silentFrames = 0;
        m_consecutiveSpeechFrames = 0;
        m_countdown.reset();
    }

    const bool levelUsable = m_peakLevel >= 0.01f;
    const float threshold = levelUsable ? m_peakLevel * 0.3f : 0.0f;
    if (levelUsable) {
        if (m_silentFrames == 0) {
            if (m_smoothedLevel >= threshold) {
                m_hasSpeechInput = true;
            } else {
                m_silentFrames = 1;
                m_consecutiveSpeechFrames = 0;
            }
        } else if (level < threshold) {
            m_consecutiveSpeechFrames = 0;
            ++m_silentFrames;
        } else {
            // Speech again only after three loud ticks in a row: a cough does not reset the count.
            ++m_consecutiveSpeechFrames;
            if (m_consecutiveSpeechFrames < 3) {
                ++m_silentFrames;
            } else {
                m_silentFrames = 0;
                m_consecutiveSpeechFrames = 0;
                m_hasSpeechInput = true;
                m_countdown.reset();
            }
        }
    } else if (!textChanged) {
        ++m_silentFrames;
    }

    const double sinceTextChange = now - m_lastTextChangeTime;
    if (m_silentFrames % 5 == 0) {
        const QStringList characters = graphemes(latestText);
        const QString tail = characters.mid(std::max<qsizetype>(0, characters.size() - 20)).join(QString());
        QString line = QStringLiteral("peak=") + p4(m_peakLevel) + QStringLiteral(" smooth=") + p4(m_smoothedLevel)
                       + QStringLiteral(" raw=") + p4(level) + QStringLiteral(" silTh=") + p4(threshold)
                       + QStringLiteral(" silent=") + QString::number(m_silentFrames) + QStringLiteral(" spkF=")
                       + QString::number(m_consecutiveSpeechFrames) + QStringLiteral(" hasSpeech=")
                       + (m_hasSpeechInput ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(" aElap=")
                       + p1(m_silentFrames * 0.1) + QStringLiteral(" tElap=") + p1(sinceTextChange)
                       + QStringLiteral(" txt=") + tail;
        if (textChanged)
            line += QStringLiteral(" TEXT_CHANGED");
        if (previousSilentFrames >= 1 && m_silentFrames == 0)
            line += QStringLiteral(" RESET");
        out.trace.append(line + QLatin1Char('\n'));
    }

    if (!m_hasSpeechInput)
        return out;
    // Tick counts are exact; comparing them avoids 0.1-step rounding (29 × 0.1 ≥ 2.9 etc.).
    const double e = levelUsable ? m_silentFrames * 0.1 : sinceTextChange;
    const double s = m_silenceSeconds;
    const double t = m_silenceSeconds / 3.0;
    const double tolerance = 1e-9;
    std::optional<int> value;
    if (e + tolerance >= s)
        value = 0;
    else if (e + tolerance >= 2 * t)
        value = 1;
    else if (e + tolerance >= t)
        value = 2;
    else if (e + tolerance >= 0.3)
        value = 3;

    if (!value || m_countdown == value) {
        m_countdown = value;
        return out;
    }
    m_countdown = value;
    if (*value > 0) {
        out.trace.append(QStringLiteral(">>> COUNTDOWN %1 (elapsed=%2s)\n").arg(*value).arg(p1(e)));
    } else {
        out.trace.append(QStringLiteral(">>> FIRING!\n"));
        out.fired = true;
    }
    return out;
}

} // namespace vel
