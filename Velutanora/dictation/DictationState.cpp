#include "dictation/DictationState.h"

namespace vel {

DictationState::Phase DictationState::phase() const
{
    if (m_recording)
        return Phase::Recording;
    if (m_processing)
        return Phase::Processing;
    if (m_completionVisible)
        return Phase::ShowingResult;
    return Phase::Idle;
}

// Assigning an equal value notifies nobody.
template <typename T, typename Signal>
static bool assign(DictationState* self, T& member, const T& value, Signal signal)
{
    if (member == value)
        return false;
    member = value;
    emit(self->*signal)();
    return true;
}

void DictationState::setRecording(bool v) { assign(this, m_recording, v, &DictationState::phaseChanged); }
void DictationState::setProcessing(bool v) { assign(this, m_processing, v, &DictationState::phaseChanged); }
void DictationState::setCompletionVisible(bool v) { assign(this, m_completionVisible, v, &DictationState::phaseChanged); }
void DictationState::setRewriting(bool v) { assign(this, m_rewriting, v, &DictationState::isRewritingChanged); }
void DictationState::setWaitingForModel(bool v)
{
    assign(this, m_waitingForModel, v, &DictationState::waitingForModelChanged);
}
void DictationState::setLiveText(const QString& v) { assign(this, m_liveText, v, &DictationState::liveTextChanged); }
void DictationState::setHeardText(const QString& v) { assign(this, m_heardText, v, &DictationState::heardTextChanged); }
void DictationState::setRewrittenText(const QString& v)
{
    assign(this, m_rewrittenText, v, &DictationState::rewrittenTextChanged);
}
void DictationState::setStatusMessage(const QString& v)
{
    assign(this, m_statusMessage, v, &DictationState::statusMessageChanged);
}
void DictationState::setLevel(float v) { assign(this, m_level, v, &DictationState::levelChanged); }
void DictationState::setElapsedTime(double v) { assign(this, m_elapsedTime, v, &DictationState::elapsedTimeChanged); }
void DictationState::setSilenceCountdown(std::optional<int> v)
{
    assign(this, m_silenceCountdown, v, &DictationState::silenceCountdownChanged);
}

void DictationState::setContinuous(bool on, bool autoEnter)
{
    autoEnter = on && autoEnter;
    if (m_continuous == on && m_continuousAutoEnter == autoEnter)
        return;
    m_continuous = on;
    m_continuousAutoEnter = autoEnter;
    emit continuousChanged();
}

void DictationState::setOutcome(std::optional<DictationOutcome> v)
{
    if (!v && !m_outcome)
        return;
    m_outcome = std::move(v);
    emit outcomeChanged();
}

void DictationState::setCancelled(bool v)
{
    m_cancelled = v;
    if (v)
        emit cancelled();
}

} // namespace vel
