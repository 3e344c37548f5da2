#pragma once

#include "common/Task.h"
#include "dictation/Notifier.h"
#include "dictation/RecordingPanelControl.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QPropertyAnimation;

namespace vel {

class AppSettings;
class Clock;
class Dictation;
class Logger;
class RecordingPanel;
class DictationState;

// Owns the floating panel: shows and hides it with short fades and shows the confirmation
// after a delivery, as dictation control asks; the panel's content reads the dictation state.
class RecordingPanelController final : public QObject, public RecordingPanelControl {
    Q_OBJECT
public:
    // How long a text stays on the panel to be read: two seconds and a Japanese reader's pace,
    // between `at least` and twelve seconds.
    static double readingSeconds(const QString& text, double atLeast);
    // The least a failure's reason stays.
    static constexpr double kFailureSeconds = 4.0;

    // notifier (may be null) carries what the panel cannot show: in stealth mode, or without a panel.
    RecordingPanelController(Logger& log, Clock& clock, Notifier* notifier = nullptr, QObject* parent = nullptr);
    ~RecordingPanelController() override;

    // dictation (may be null) is what the panel's stop button stops.
    void bind(const DictationState* state, AppSettings* settings, Dictation* dictation);
    // Off where a panel window would take the keyboard from the target (a Wayland compositor
    // without layer-shell): the state then shows as in stealth mode.
    void setPanelAllowed(bool allowed) { m_panelAllowed = allowed; }
    // Where neither a panel nor a tray shows the state: the start and the end of each dictation
    // become notifications.
    void setOnlyNotifications(bool on) { m_onlyNotifications = on; }
    // Where the desktop shows the panel on a surface of its own (a Wayland layer surface): the
    // panel widget is kept off screen and handed to host once, when it is made.
    void setPanelHost(std::function<void(RecordingPanel* panel)> host) { m_panelHost = std::move(host); }

    void show() override;
    void hide();
    void hideImmediately() override;
    void showFailure(const QString& status) override;
    void showOutcome(const DictationOutcome& outcome) override;
    void showCancelled() override;
    void showCopiedFeedback();
    // The confirmation's first line: "ペーストしました", "送信しました" (continuous auto), or
    // where the text is when the paste did not go out.
    QString confirmationText() const;

    bool showCopied() const { return m_showCopied; }
    // The status of a failed start while the panel shows it; empty otherwise.
    QString failureText() const { return m_failureText; }
    // The confirmation's second line: why the local text was pasted instead of Gemini's.
    QString confirmationNote() const { return m_confirmationNote; }
    RecordingPanel* panel() const { return m_panel; }
    bool isPanelVisible() const;
    Clock& clock() const { return m_clock; }

signals:
    void showCopiedChanged();
    void textsChanged();

private:
    // In stealth mode, or where the panel may not show: notifications and the tray instead.
    bool hidesPanel() const;
    bool m_panelAllowed = true;
    bool m_onlyNotifications = false;
    std::function<void(RecordingPanel*)> m_panelHost;
    void setShowCopied(bool value);
    void setTexts(const QString& failure, const QString& note);
    void present();
    void cancelFeedback();
    void stopFade();
    void constructPanel();
    Task<void> delayedHide(double seconds);

    Logger& m_log;
    Clock& m_clock;
    Notifier* m_notifier;
    RecordingPanel* m_panel = nullptr;
    QString m_failureText;
    QString m_confirmationNote;
    QPropertyAnimation* m_fade = nullptr;
    bool m_showCopied = false;
    TaskHandle m_feedbackTask;
    QPointer<const DictationState> m_state;
    QPointer<AppSettings> m_settings;
    QPointer<Dictation> m_dictation;
    bool m_pasted = true;
    bool m_copied = true;
    bool m_cancelled = false; // the confirmation face says the dictation was cancelled
};

} // namespace vel
