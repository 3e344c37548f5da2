// Continuous mode: SpeechManager feeds the silence detector every 0.1 s.
#include "common/Clock.h"
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


} // namespace

void SpeechManager::startSilenceDetection(double silenceSeconds)
{
    setSilenceCountdown(std::nullopt);
    m_silenceDetector.emplace(silenceSeconds, m_accumulatedText + QLatin1Char('|') + m_latestRecognizedText, m_clock.now());
    m_debugLog.append(QStringLiteral("\n--- silence detection started (silenceSeconds=") + shortestDecimal(silenceSeconds)
                      + QStringLiteral(") ---\n"));
    QPointer<SpeechManager> self(this);
    m_silenceTimer = m_clock.schedule(0.1, true, [self] {
        if (self)
            self->silenceTick();
    });
}

void SpeechManager::stopSilenceDetection()
{
    m_silenceTimer.reset();
    m_silenceDetector.reset();
    setSilenceCountdown(std::nullopt);
}

void SpeechManager::silenceTick()
{
    if (!m_isRecording || !m_silenceDetector)
        return;
    const SilenceDetector::Tick tick = m_silenceDetector->tick(
        m_audioLevel, m_accumulatedText + QLatin1Char('|') + m_latestRecognizedText, m_latestRecognizedText, m_clock.now());
    setSilenceCountdown(m_silenceDetector->countdown());
    for (const QString& line : tick.trace)
        m_debugLog.appendIfExists(line);
    if (tick.fired)
        emit silenceDetected();
}

} // namespace vel
