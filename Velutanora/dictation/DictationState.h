#pragma once

#include "dictation/DictationOutcome.h"

#include <QObject>
#include <QString>

#include <optional>

namespace vel {

// What the user sees of the dictation: its phase, the live text, the level, the countdown of
// continuous mode, the status line and how the last one ended. Dictation is its one writer;
// the panel, the tray, the shortcut detection and the command line read it through a const
// reference and follow its signals. Main thread only.
class DictationState final : public QObject {
    Q_OBJECT
public:
    enum class Phase {
        Idle,
        Recording,
        Processing,    // the stopped dictation is being recognised, cleaned, corrected or pasted
        ShowingResult, // the completion mark, two seconds after a paste
    };

    using QObject::QObject;

    Phase phase() const;
    bool isRecording() const { return m_recording; }
    bool isProcessing() const { return m_processing; }
    bool isRewriting() const { return m_rewriting; }
    // A dictation was started while the model loads: recording begins once it has.
    bool isWaitingForModel() const { return m_waitingForModel; }
    bool isCompletionVisible() const { return m_completionVisible; }
    // The recogniser's text while recording, then the locally cleaned text.
    QString liveText() const { return m_liveText; }
    // What the recogniser has heard so far, the words it may still change included (the panel's line).
    QString heardText() const { return m_heardText; }
    QString rewrittenText() const { return m_rewrittenText; }
    QString statusMessage() const { return m_statusMessage; }
    float level() const { return m_level; }
    double elapsedTime() const { return m_elapsedTime; }
    std::optional<int> silenceCountdown() const { return m_silenceCountdown; }
    bool isContinuous() const { return m_continuous; }
    bool continuousAutoEnter() const { return m_continuousAutoEnter; }
    // How the last processed dictation ended; nothing while one runs or after a cancel.
    const std::optional<DictationOutcome>& outcome() const { return m_outcome; }
    bool wasCancelled() const { return m_cancelled; }

    void setRecording(bool v);
    void setProcessing(bool v);
    void setRewriting(bool v);
    void setWaitingForModel(bool v);
    void setCompletionVisible(bool v);
    void setLiveText(const QString& v);
    void setHeardText(const QString& v);
    void setRewrittenText(const QString& v);
    void setStatusMessage(const QString& v);
    void setLevel(float v);
    void setElapsedTime(double v);
    void setSilenceCountdown(std::optional<int> v);
    void setContinuous(bool on, bool autoEnter);
    void setOutcome(std::optional<DictationOutcome> v);
    void setCancelled(bool v);

signals:
    void phaseChanged();
    void isRewritingChanged();
    void waitingForModelChanged();
    void liveTextChanged();
    void heardTextChanged();
    void rewrittenTextChanged();
    void statusMessageChanged();
    void levelChanged();
    void elapsedTimeChanged();
    void silenceCountdownChanged();
    void continuousChanged();
    void outcomeChanged();
    // Sent each time a dictation is cancelled, even after an earlier cancel.
    void cancelled();

private:
    bool m_recording = false;
    bool m_processing = false;
    bool m_rewriting = false;
    bool m_waitingForModel = false;
    bool m_completionVisible = false;
    QString m_liveText;
    QString m_heardText;
    QString m_rewrittenText;
    QString m_statusMessage = QStringLiteral("準備完了");
    float m_level = 0;
    double m_elapsedTime = 0;
    std::optional<int> m_silenceCountdown;
    bool m_continuous = false;
    bool m_continuousAutoEnter = false;
    std::optional<DictationOutcome> m_outcome;
    bool m_cancelled = false;
};

} // namespace vel
