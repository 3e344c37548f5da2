#include "ui/RecordingPanelController.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "settings/AppSettings.h"
#include "dictation/Dictation.h"
#include "ui/RecordingIndicatorView.h"
#include "ui/RecordingPanel.h"

#include <QPropertyAnimation>

#include <algorithm>

namespace vel {

RecordingPanelController::RecordingPanelController(Logger& log, Clock& clock, Notifier* notifier, QObject* parent)
    : QObject(parent), m_log(log), m_clock(clock), m_notifier(notifier)
{
}

RecordingPanelController::~RecordingPanelController()
{
    m_feedbackTask.cancel();
    delete m_panel;
}

bool RecordingPanelController::isPanelVisible() const { return m_panel && m_panel->isVisible(); }

void RecordingPanelController::setShowCopied(bool value)
{
    if (m_showCopied == value)
        return;
    m_showCopied = value;
    emit showCopiedChanged();
}

void RecordingPanelController::setTexts(const QString& failure, const QString& note)
{
    if (m_failureText == failure && m_confirmationNote == note)
        return;
    m_failureText = failure;
    m_confirmationNote = note;
    emit textsChanged();
}

void RecordingPanelController::bind(const DictationState* state, AppSettings* settings, Dictation* dictation)
{
    m_state = state;
    m_settings = settings;
    m_dictation = dictation;
}

void RecordingPanelController::showOutcome(const DictationOutcome& outcome)
{
    // Beyond "pasted": why it was not, and why Gemini's answer was not used.
    QStringList notes;
    if (!outcome.pasted())
        notes << outcome.reason;
    if (!outcome.correctionFailure.isEmpty())
        notes << outcome.correctionFailure;
    if (hidesPanel() || !isPanelVisible()) {
        // Stealth mode, no panel on this desktop, or a dictation from the tray menu.
        QStringList told;
        if (!outcome.pasted() || (m_onlyNotifications && !m_panelAllowed))
            told << outcome.status;
        if (!outcome.correctionFailure.isEmpty())
            told << outcome.correctionFailure;
        if (!told.isEmpty() && m_notifier)
            m_notifier->notify(told.join(QLatin1Char('\n')));
        return;
    }
    m_log.line(QStringLiteral("📺 [PANEL] outcome: ") + outcome.status);
    m_cancelled = false;
    m_pasted = outcome.pasted();
    m_copied = outcome.onClipboard;
    setTexts(QString(), notes.join(QLatin1Char('\n')));
    if (m_state && m_state->isContinuous())
        setShowCopied(true); // the panel stays up for the next turn of the loop
    else
        showCopiedFeedback();
}

void RecordingPanelController::showCancelled()
{
    if (!m_panel || !isPanelVisible() || hidesPanel()) {
        hideImmediately();
        return;
    }
    cancelFeedback();
    m_cancelled = true;
    setTexts(QString(), QString());
    setShowCopied(true);
    emit textsChanged();
    m_feedbackTask = spawn(this, delayedHide(1.0));
}

QString RecordingPanelController::confirmationText() const
{
    if (m_cancelled)
        return QStringLiteral("キャンセルしました");
    if (!m_pasted)
        return m_copied ? QStringLiteral("コピーしました") : QStringLiteral("履歴に保存しました");
    return m_state && m_state->continuousAutoEnter() ? QStringLiteral("送信しました") : QStringLiteral("ペーストしました");
}

void RecordingPanelController::constructPanel()
{
    if (m_panel || !m_state)
        return;
    auto* view = new RecordingIndicatorView(*m_state, *this, m_settings, m_dictation);
    m_panel = new RecordingPanel(view);
    // The panel follows the appearance as it changes, like the settings window.
    if (m_settings) {
        view->applyAppearance(m_settings->appearanceMode());
        QPointer<AppSettings> settings = m_settings;
        connect(m_settings, &AppSettings::appearanceModeChanged, view, [view, settings] {
            if (settings)
                view->applyAppearance(settings->appearanceMode());
        });
    }
    m_fade = new QPropertyAnimation(m_panel, "fade", m_panel);
    if (m_panelHost) {
        m_panel->setAttribute(Qt::WA_DontShowOnScreen);
        m_panelHost(m_panel);
    }
}

void RecordingPanelController::cancelFeedback()
{
    m_feedbackTask.cancel();
    m_feedbackTask = TaskHandle();
}

// Stops a fade under way, and what its end would have done.
void RecordingPanelController::stopFade()
{
    m_fade->stop();
    disconnect(m_fade, &QPropertyAnimation::finished, nullptr, nullptr);
}

bool RecordingPanelController::hidesPanel() const
{
    return !m_panelAllowed || (m_settings && m_settings->stealthMode());
}

void RecordingPanelController::show()
{
    const bool stealth = hidesPanel();
    m_log.line(QStringLiteral("📺 [PANEL] show() called, speechManager exists: %1, stealth: %2")
                   .arg(boolText(!m_state.isNull()), boolText(stealth)));
    if (m_onlyNotifications && !m_panelAllowed && m_notifier)
        m_notifier->notify(QStringLiteral("録音中です。もう一度ショートカットを押すと止めて貼り付けます"));
    if (!m_state || stealth)
        return;
    cancelFeedback();
    constructPanel();
    if (!m_panel)
        return;
    m_cancelled = false;
    setShowCopied(false);
    setTexts(QString(), QString());
    present();
}

void RecordingPanelController::present()
{
    if (m_panel->isVisible()) {
        m_log.line(QStringLiteral("📺 [PANEL] show() skipped — already visible (showCopied reset)"));
        // A fade-out under way must not close the panel that is being shown again.
        stopFade();
        m_panel->setFade(1.0);
        return;
    }
    m_panel->placeOnScreen();
    m_panel->setFade(0.0);
    m_panel->show();
    m_panel->raise();
    stopFade();
    m_fade->setDuration(100);
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
    m_fade->start();
}

void RecordingPanelController::hide()
{
    m_log.line(QStringLiteral("📺 [PANEL] hide() called, panel exists: ") + boolText(m_panel != nullptr));
    if (!m_panel)
        return;
    cancelFeedback();
    stopFade();
    m_fade->setDuration(250);
    m_fade->setStartValue(m_panel->fade());
    m_fade->setEndValue(0.0);
    QPointer<RecordingPanelController> self(this);
    connect(m_fade, &QPropertyAnimation::finished, this, [self] {
        if (!self || !self->m_panel)
            return;
        self->m_panel->hide();
        self->setShowCopied(false);
        self->setTexts(QString(), QString());
    });
    m_fade->start();
}

void RecordingPanelController::hideImmediately()
{
    m_log.line(QStringLiteral("📺 [PANEL] hideImmediately() called, panel exists: ") + boolText(m_panel != nullptr));
    if (!m_panel)
        return;
    cancelFeedback();
    stopFade();
    m_panel->setFade(0.0);
    m_panel->hide();
    setShowCopied(false);
    setTexts(QString(), QString());
}

void RecordingPanelController::showFailure(const QString& status)
{
    m_log.line(QStringLiteral("📺 [PANEL] showFailure(): ") + status);
    const bool stealth = hidesPanel();
    if (!stealth && m_state) {
        cancelFeedback();
        constructPanel();
    }
    if (stealth || !m_panel) {
        if (m_notifier)
            m_notifier->notify(status);
        return;
    }
    setShowCopied(false);
    setTexts(status, QString());
    present();
    m_feedbackTask = spawn(this, delayedHide(readingSeconds(status, kFailureSeconds)));
}

Task<void> RecordingPanelController::delayedHide(double seconds)
{
    co_await sleepFor(m_clock, seconds);
    const bool cancelled = co_await taskCancelled();
    if (!cancelled)
        hide();
}

double RecordingPanelController::readingSeconds(const QString& text, double atLeast)
{
    return std::clamp(2.0 + 0.12 * static_cast<double>(text.size()), atLeast, 12.0);
}

void RecordingPanelController::showCopiedFeedback()
{
    if (!m_panel)
        return;
    setShowCopied(true);
    m_feedbackTask.cancel();
    // A note (why Gemini's answer was not used) stays as long as it takes to read.
    m_feedbackTask = spawn(this, delayedHide(m_confirmationNote.isEmpty() ? 2.0 : readingSeconds(m_confirmationNote, 4.0)));
}

} // namespace vel
