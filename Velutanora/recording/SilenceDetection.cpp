// The silence detector of continuous mode (members of SpeechManager, kept apart).
#include "common/Clock.h"
#include "common/TextTrim.h"
#include "recording/DebugLog.h"
#include "recording/SpeechManager.h"

#include <QLocale>
#include <QPointer>

#include <cmath>

namespace vel {

namespace {

// The shortest decimal form that reads back exactly, always with a fraction: 3.0 prints "3.0".
QString shortestDecimal(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (std::isfinite(value) && !text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

QString p4(double v) { return QString::number(v, 'f', 4); }
QString p1(double v) { return QString::number(v, 'f', 1); }

} // namespace

void SpeechManager::startSilenceDetection(double silenceSeconds)
{
    setSilenceCountdown(std::nullopt);
    m_lastTextSnapshot = m_accumulatedText + QLatin1Char('|') + m_latestRecognizedText;
    m_lastTextChangeTime = m_clock.now();
    m_hasSpeechInput = false;
    m_audioSilentFrames = 0;
    m_smoothedAudioLevel = 0;
    m_peakAudioLevel = 0;
    m_consecutiveSpeechFrames = 0;
    m_warmupTicks = 0;
    m_debugLog.append(QStringLiteral("\n--- silence detection started (silenceSeconds=") + shortestDecimal(silenceSeconds)
                      + QStringLiteral(") ---\n"));
    const double s = silenceSeconds;
    const double t = silenceSeconds / 3.0;
    QPointer<SpeechManager> self(this);
    m_silenceTimer = m_clock.schedule(0.1, true, [self, s, t] {
        if (self)
            self->silenceTick(s, t);
    });
}

void SpeechManager::stopSilenceDetection()
{
    m_silenceTimer.reset();
    setSilenceCountdown(std::nullopt);
}

void SpeechManager::silenceTick(double s, double t)
{
    if (!m_isContinuousMode || !m_isRecording)
        return;
    m_smoothedAudioLevel = m_smoothedAudioLevel * 0.7f + m_audioLevel * 0.3f;
    if (m_warmupTicks < 5) {
        ++m_warmupTicks;
        return;
    }
    const int previousSilentFrames = m_audioSilentFrames;
    m_peakAudioLevel = std::max(m_smoothedAudioLevel, m_peakAudioLevel * 0.998f);

    bool textChanged = false;
    const QString snapshot = m_accumulatedText + QLatin1Char('|') + m_latestRecognizedText;
    if (snapshot != m_lastTextSnapshot) {
        textChanged = true;
        m_lastTextSnapshot = snapshot;
        m_lastTextChangeTime = m_clock.now();
        m_hasSpeechInput = true;
        m_audioSilentFrames = 0;
        m_consecutiveSpeechFrames = 0;
        setSilenceCountdown(std::nullopt);
    }

    const bool levelUsable = m_peakAudioLevel >= 0.01f;
    const float threshold = levelUsable ? m_peakAudioLevel * 0.3f : 0.0f;
    if (levelUsable) {
        if (m_audioSilentFrames == 0) {
            if (m_smoothedAudioLevel >= threshold) {
                m_hasSpeechInput = true;
            } else {
                m_audioSilentFrames = 1;
                m_consecutiveSpeechFrames = 0;
            }
        } else if (m_audioLevel < threshold) {
            m_consecutiveSpeechFrames = 0;
            ++m_audioSilentFrames;
        } else {
            ++m_consecutiveSpeechFrames;
            if (m_consecutiveSpeechFrames < 3) {
                ++m_audioSilentFrames;
            } else {
                m_audioSilentFrames = 0;
                m_consecutiveSpeechFrames = 0;
                m_hasSpeechInput = true;
                setSilenceCountdown(std::nullopt);
            }
        }
    } else if (!textChanged) {
        ++m_audioSilentFrames;
    }

    const double sinceTextChange = m_clock.now() - m_lastTextChangeTime;
    if (m_audioSilentFrames % 5 == 0) {
        const QStringList characters = graphemes(m_latestRecognizedText);
        const QString tail = characters.mid(std::max<qsizetype>(0, characters.size() - 20)).join(QString());
        QString line = QStringLiteral("peak=") + p4(m_peakAudioLevel) + QStringLiteral(" smooth=") + p4(m_smoothedAudioLevel)
                       + QStringLiteral(" raw=") + p4(m_audioLevel) + QStringLiteral(" silTh=") + p4(threshold)
                       + QStringLiteral(" silent=") + QString::number(m_audioSilentFrames) + QStringLiteral(" spkF=")
                       + QString::number(m_consecutiveSpeechFrames) + QStringLiteral(" hasSpeech=")
                       + (m_hasSpeechInput ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(" aElap=")
                       + p1(m_audioSilentFrames * 0.1) + QStringLiteral(" tElap=") + p1(sinceTextChange)
                       + QStringLiteral(" txt=") + tail;
        if (textChanged)
            line += QStringLiteral(" TEXT_CHANGED");
        if (previousSilentFrames >= 1 && m_audioSilentFrames == 0)
            line += QStringLiteral(" RESET");
        m_debugLog.appendIfExists(line + QLatin1Char('\n'));
    }

    if (!m_hasSpeechInput)
        return;
    // Tick counts are exact; comparing them avoids 0.1-step rounding (29 × 0.1 ≥ 2.9 etc.).
    const double e = levelUsable ? m_audioSilentFrames * 0.1 : sinceTextChange;
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

    if (!value) {
        setSilenceCountdown(std::nullopt);
        return;
    }
    if (m_silenceCountdown == value)
        return;
    setSilenceCountdown(value);
    if (*value > 0) {
        m_debugLog.appendIfExists(QStringLiteral(">>> COUNTDOWN %1 (elapsed=%2s)\n").arg(*value).arg(p1(e)));
    } else {
        m_debugLog.appendIfExists(QStringLiteral(">>> FIRING!\n"));
        if (onSilenceDetected)
            onSilenceDetected();
    }
}

} // namespace vel
