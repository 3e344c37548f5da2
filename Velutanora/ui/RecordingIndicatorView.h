#pragma once

#include "common/Task.h"
#include "settings/AppSettings.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QStackedWidget;
class QToolButton;

namespace vel {

class ClockTimer;
class Dictation;
class RecordingPanelController;
class DictationState;

// The level meter: bars lit from the left as the level rises (level × 5, full at 0.2).
class AudioLevelBars final : public QWidget {
    Q_OBJECT
public:
    explicit AudioLevelBars(QColor color, int barCount = 10, QWidget* parent = nullptr);
    void setLevel(float level);
    float level() const { return m_level; }
    static int litBars(float level, int barCount);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor m_color;
    int m_barCount;
    float m_level = 0;
};

// The content of the recording panel: a capsule that shows one of five faces (confirmation,
// "認識中...", "処理中...", the recording controls with the level meter, the time or the
// silence countdown, the mode buttons and the stop button, or why a dictation could not start).
class RecordingIndicatorView final : public QWidget {
    Q_OBJECT
public:
    enum class Face { Confirmation, Recognizing, Processing, Recording, Failure };

    RecordingIndicatorView(const DictationState& state, RecordingPanelController& controller, AppSettings* settings,
                           Dictation* dictation, QWidget* parent = nullptr);
    ~RecordingIndicatorView() override;

    static Face faceFor(bool showCopied, bool isRewriting, bool isRecording);
    // m:ss of whole seconds (0:00, 1:15, 10:00).
    static QString formatTime(double seconds);
    // The text in at most `lines` lines of `width`, the last one cut with an ellipsis.
    static QString fitLines(const QString& text, const QFont& font, int width, int lines);
    static QString modeSymbol(CorrectionMode mode);

    void applyAppearance(AppearanceMode mode);
    Face face() const { return m_face; }
    QString timeText() const;
    QLabel* timeLabel() const { return m_time; }
    QString heardLine() const;
    QString confirmationText() const;
    bool isModeBubbleVisible() const;

    // The controls, for tests and for keyboard-free use.
    void clickModeButton();
    void clickContinuousButton();
    void clickStop();
    void hoverModeButton(bool inside);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void restyle(const QColor& primary, const QColor& secondary);
    void showBubble(bool visible);

    const DictationState& m_state;
    RecordingPanelController& m_controller;
    QPointer<AppSettings> m_settings;
    QPointer<Dictation> m_dictation;
    Face m_face = Face::Processing;
    bool m_dark = false;
    QString m_styleKey;  // what the style sheets and pixmaps were last built for
    QString m_timeStyle; // the time label's style sheet as last set
    QStackedWidget* m_faces;
    QLabel* m_confirmationIcon;
    QLabel* m_confirmation;
    QLabel* m_confirmationNote;
    QLabel* m_failureIcon;
    QLabel* m_failure;
    QToolButton* m_modeButton;
    QToolButton* m_continuousButton;
    QWidget* m_dot;
    AudioLevelBars* m_bars;
    QLabel* m_time;
    QToolButton* m_stop;
    QToolButton* m_cancel;
    QLabel* m_heard;
    QLabel* m_pasted;
    QToolButton* m_retry;
    QLabel* m_bubble;
    std::unique_ptr<ClockTimer> m_hoverTimer;
};

} // namespace vel
