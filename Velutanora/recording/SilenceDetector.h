#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vel {

// The end of an utterance in continuous mode, without clock or timer: fed one tick every
// 0.1 s with the level, the text recognised so far and the time, it counts down (3, 2, 1) and
// fires (0) once the silence has lasted silenceSeconds. The silence is counted in ticks of low
// level while the level is usable, otherwise from the last change of the text.
class SilenceDetector {
public:
    SilenceDetector(double silenceSeconds, const QString& textSnapshot, double now);

    struct Tick {
        bool fired = false;
        // Lines for the debug log.
        QStringList trace;
    };
    // snapshot: everything recognised so far; latestText: its volatile tail (for the trace).
    Tick tick(float level, const QString& snapshot, const QString& latestText, double now);

    std::optional<int> countdown() const { return m_countdown; }

private:
    double m_silenceSeconds;
    QString m_lastSnapshot;
    double m_lastTextChangeTime;
    std::optional<int> m_countdown;
    bool m_hasSpeechInput = false;
    int m_silentFrames = 0;
    float m_peakLevel = 0;
    float m_smoothedLevel = 0;
    int m_consecutiveSpeechFrames = 0;
    int m_warmupTicks = 0;
};

} // namespace vel
