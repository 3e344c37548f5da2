#include "ui/RecordingIndicatorView.h"

#include "common/Clock.h"
#include "dictation/DictationState.h"
#include "dictation/Dictation.h"
#include "ui/Icons.h"
#include "ui/RecordingPanelController.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QPainterPath>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

namespace vel {

namespace {

const QColor kVermillion = QColor::fromRgbF(0.8f, 0.2f, 0.1f, 1.0f);

// A small turning arc, like a platform spinner.
class Spinner final : public QWidget {
public:
    explicit Spinner(QWidget* parent = nullptr) : QWidget(parent)
    {
        setFixedSize(14, 14);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_angle = (m_angle + 30) % 360;
            update();
        });
    }
    QColor color;

protected:
    void showEvent(QShowEvent*) override { m_timer.start(80); }
    void hideEvent(QHideEvent*) override { m_timer.stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(2, 2, 10, 10), -m_angle * 16, 270 * 16);
    }

private:
    QTimer m_timer;
    int m_angle = 0;
};

// The red dot that breathes while recording.
class RecordingDot final : public QWidget {
public:
    explicit RecordingDot(QWidget* parent = nullptr) : QWidget(parent)
    {
        setFixedSize(10, 10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_bright = !m_bright;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { m_timer.start(600); }
    void hideEvent(QHideEvent*) override { m_timer.stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(m_bright ? 1.0 : 0.3);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0x3b, 0x30));
        p.drawEllipse(rect());
    }

private:
    QTimer m_timer;
    bool m_bright = true;
};

QToolButton* circleButton(QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setFixedSize(26, 26);
    b->setIconSize(QSize(15, 15));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

} // namespace

AudioLevelBars::AudioLevelBars(QColor color, int barCount, QWidget* parent)
    : QWidget(parent), m_color(std::move(color)), m_barCount(barCount)
{
    setFixedSize(48, 18);
}

int AudioLevelBars::litBars(float level, int barCount)
{
    const float scaled = std::min(level * 5.0f, 1.0f);
    int lit = 0;
    for (int i = 0; i < barCount; ++i) {
        if (static_cast<float>(i) / static_cast<float>(barCount) < scaled)
            ++lit;
    }
    return lit;
}

void AudioLevelBars::setLevel(float level)
{
    if (level == m_level)
        return;
    m_level = level;
    update();
}

void AudioLevelBars::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int lit = litBars(m_level, m_barCount);
    const double gap = 2;
    const double w = (width() - gap * (m_barCount - 1)) / m_barCount;
    for (int i = 0; i < m_barCount; ++i) {
        const QRectF bar(i * (w + gap), 0, w, height());
        if (i < lit) {
            QLinearGradient g(bar.bottomLeft(), bar.topLeft());
            g.setColorAt(0, m_color);
            g.setColorAt(1, QColor(0xff, 0x95, 0x00));
            p.setBrush(g);
        } else {
            QColor grey(0x8e, 0x8e, 0x93);
            grey.setAlphaF(0.3f);
            p.setBrush(grey);
        }
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(bar, 1, 1);
    }
}

RecordingIndicatorView::RecordingIndicatorView(const DictationState& state, RecordingPanelController& controller,
                                               AppSettings* settings, Dictation* dictation, QWidget* parent)
    : QWidget(parent), m_state(state), m_controller(controller), m_settings(settings), m_dictation(dictation)
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_faces = new QStackedWidget(this);
    m_faces->setAttribute(Qt::WA_TranslucentBackground);

    auto makeRow = [this](int spacing) {
        auto* page = new QWidget(m_faces);
        auto* row = new QHBoxLayout(page);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(spacing);
        m_faces->addWidget(page);
        return row;
    };

    // Confirmation, with a second line when the local text stood in for Gemini's.
    QHBoxLayout* confirmationRow = makeRow(0);
    auto* confirmationColumn = new QVBoxLayout;
    confirmationColumn->setSpacing(2);
    auto* done = new QHBoxLayout;
    done->setSpacing(6);
    m_confirmationIcon = new QLabel;
    m_confirmation = new QLabel;
    done->addStretch();
    done->addWidget(m_confirmationIcon);
    done->addWidget(m_confirmation);
    done->addStretch();
    m_confirmationNote = new QLabel;
    m_confirmationNote->setObjectName(QStringLiteral("note"));
    m_confirmationNote->setAlignment(Qt::AlignCenter);
    m_confirmationNote->setWordWrap(true);
    m_confirmationNote->setMaximumWidth(230);
    confirmationColumn->addLayout(done);
    confirmationColumn->addWidget(m_confirmationNote);
    // What was pasted, its start, where no note has to be said instead.
    m_pasted = new QLabel;
    m_pasted->setObjectName(QStringLiteral("note"));
    m_pasted->setAlignment(Qt::AlignCenter);
    m_pasted->setFixedWidth(230);
    m_pasted->hide();
    confirmationColumn->addWidget(m_pasted);
    confirmationRow->addLayout(confirmationColumn);

    // Busy faces.
    for (const QString& text : {QStringLiteral("認識中..."), QStringLiteral("処理中...")}) {
        QHBoxLayout* busy = makeRow(8);
        busy->addStretch();
        busy->addWidget(new Spinner);
        busy->addWidget(new QLabel(text));
        busy->addStretch();
    }

    // Recording controls, and under them what the recogniser has heard so far.
    auto* recordingPage = new QWidget(m_faces);
    auto* recordingColumn = new QVBoxLayout(recordingPage);
    recordingColumn->setContentsMargins(0, 0, 0, 0);
    recordingColumn->setSpacing(2);
    auto* rec = new QHBoxLayout;
    rec->setSpacing(8);
    recordingColumn->addLayout(rec);
    m_heard = new QLabel;
    m_heard->setObjectName(QStringLiteral("note"));
    m_heard->setWordWrap(true);
    m_heard->setFixedWidth(250);
    m_heard->hide();
    recordingColumn->addWidget(m_heard, 0, Qt::AlignHCenter);
    m_faces->addWidget(recordingPage);
    m_modeButton = circleButton(this);
    m_continuousButton = circleButton(this);
    m_dot = new RecordingDot;
    m_bars = new AudioLevelBars(kVermillion, 10);
    m_time = new QLabel;
    m_stop = new QToolButton;
    m_stop->setFixedSize(24, 24);
    m_stop->setIconSize(QSize(12, 12));
    m_stop->setIcon(Icons::icon(QStringLiteral("stop.fill"), Qt::white));
    m_stop->setFocusPolicy(Qt::NoFocus);
    m_stop->setCursor(Qt::PointingHandCursor);
    m_stop->setStyleSheet(QStringLiteral("QToolButton { background: %1; border-radius: 6px; border: none; }").arg(kVermillion.name()));
    // A cancel without the keyboard, with the key named in its tooltip.
    m_cancel = new QToolButton;
    m_cancel->setFixedSize(24, 24);
    m_cancel->setIconSize(QSize(12, 12));
    m_cancel->setFocusPolicy(Qt::NoFocus);
    m_cancel->setCursor(Qt::PointingHandCursor);
    m_cancel->setProperty("circle", true);
    connect(m_cancel, &QToolButton::clicked, this, [this] {
        if (m_dictation)
            m_dictation->cancel();
    });
    for (QWidget* w : std::initializer_list<QWidget*>{m_modeButton, m_continuousButton, m_dot, m_bars, m_time, m_cancel, m_stop})
        rec->addWidget(w, 0, Qt::AlignVCenter);
    connect(m_modeButton, &QToolButton::clicked, this, &RecordingIndicatorView::clickModeButton);
    connect(m_continuousButton, &QToolButton::clicked, this, &RecordingIndicatorView::clickContinuousButton);
    connect(m_stop, &QToolButton::clicked, this, &RecordingIndicatorView::clickStop);
    m_modeButton->installEventFilter(this);

    // Failure: the status line of a dictation that could not start.
    QHBoxLayout* failed = makeRow(6);
    m_failureIcon = new QLabel;
    m_failure = new QLabel;
    m_failure->setObjectName(QStringLiteral("failure"));
    m_failure->setWordWrap(true);
    m_failure->setFixedWidth(228);
    failed->addWidget(m_failureIcon, 0, Qt::AlignVCenter);
    failed->addWidget(m_failure, 1, Qt::AlignVCenter);
    // A recording kept after a failure is tried again from here, into the application in front.
    m_retry = new QToolButton;
    m_retry->setText(QStringLiteral("再試行"));
    m_retry->setFocusPolicy(Qt::NoFocus);
    m_retry->setCursor(Qt::PointingHandCursor);
    m_retry->hide();
    failed->addWidget(m_retry, 0, Qt::AlignVCenter);
    connect(m_retry, &QToolButton::clicked, this, [this] {
        const std::optional<DictationOutcome>& outcome = m_state.outcome();
        if (m_dictation && outcome && !outcome->retryEntry.isNull())
            m_dictation->retryKept(outcome->retryEntry, true);
        m_controller.hideImmediately();
    });

    m_bubble = new QLabel(this);
    m_bubble->setAlignment(Qt::AlignCenter);
    m_bubble->hide();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addStretch();
    auto* centre = new QHBoxLayout;
    centre->addStretch();
    centre->addWidget(m_faces);
    centre->addStretch();
    outer->addLayout(centre);
    outer->addStretch();

    for (auto signal : {&DictationState::phaseChanged, &DictationState::isRewritingChanged,
                        &DictationState::elapsedTimeChanged, &DictationState::continuousChanged,
                        &DictationState::silenceCountdownChanged, &DictationState::waitingForModelChanged,
                        &DictationState::heardTextChanged})
        connect(&m_state, signal, this, &RecordingIndicatorView::refresh);
    connect(&m_state, &DictationState::levelChanged, this, [this] { m_bars->setLevel(m_state.level()); });
    connect(&m_controller, &RecordingPanelController::showCopiedChanged, this, &RecordingIndicatorView::refresh);
    connect(&m_controller, &RecordingPanelController::textsChanged, this, &RecordingIndicatorView::refresh);
    if (m_settings) {
        connect(m_settings, &AppSettings::correctionModeChanged, this, &RecordingIndicatorView::refresh);
        connect(m_settings, &AppSettings::continuousModeChanged, this, &RecordingIndicatorView::refresh);
    }
    applyAppearance(AppearanceMode::System);
}

RecordingIndicatorView::~RecordingIndicatorView() = default;

QString RecordingIndicatorView::fitLines(const QString& text, const QFont& font, int width, int lines)
{
    QTextLayout layout(text, font);
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrap);
    layout.beginLayout();
    QList<int> starts;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        starts << line.textStart();
    }
    layout.endLayout();
    if (starts.size() <= lines)
        return text;
    const QString last = QFontMetrics(font).elidedText(text.mid(starts[lines - 1]).simplified(), Qt::ElideRight, width);
    return text.left(starts[lines - 1]) + last;
}

RecordingIndicatorView::Face RecordingIndicatorView::faceFor(bool showCopied, bool isRewriting, bool isRecording)
{
    if (showCopied)
        return Face::Confirmation;
    if (isRewriting)
        return Face::Recognizing;
    if (!isRecording)
        return Face::Processing;
    return Face::Recording;
}

QString RecordingIndicatorView::formatTime(double seconds)
{
    const auto whole = static_cast<long long>(std::trunc(seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString RecordingIndicatorView::modeSymbol(CorrectionMode mode)
{
    switch (mode) {
    case CorrectionMode::Instant: return QStringLiteral("bolt");
    case CorrectionMode::Fast: return QStringLiteral("wand.and.rays");
    case CorrectionMode::Quality: return QStringLiteral("sparkles");
    }
    return QStringLiteral("bolt");
}

void RecordingIndicatorView::applyAppearance(AppearanceMode mode)
{
    m_dark = mode == AppearanceMode::Dark
             || (mode == AppearanceMode::System && palette().color(QPalette::Window).lightness() < 128);
    refresh();
}

QString RecordingIndicatorView::confirmationText() const { return m_controller.confirmationText(); }

QString RecordingIndicatorView::timeText() const { return m_time->text(); }

QString RecordingIndicatorView::heardLine() const
{
    return m_heard->isVisible() && !m_state.heardText().isEmpty() ? m_heard->text() : QString();
}

bool RecordingIndicatorView::isModeBubbleVisible() const { return !m_bubble->isHidden(); }

// Style sheets and pixmaps are rebuilt only when what they show changes: refresh() runs on
// every tick of the recording timer, and a style sheet makes Qt re-polish the whole panel.
void RecordingIndicatorView::restyle(const QColor& primary, const QColor& secondary)
{
    const CorrectionMode mode = m_settings ? m_settings->correctionMode() : CorrectionMode::Instant;
    const bool continuousOn = m_settings && m_settings->continuousMode() != ContinuousMode::Off;
    const QString key = QStringLiteral("%1|%2|%3|%4").arg(m_dark).arg(static_cast<int>(mode)).arg(continuousOn).arg(devicePixelRatioF());
    if (key == m_styleKey)
        return;
    m_styleKey = key;
    setStyleSheet(QStringLiteral("QLabel { color: %1; font-size: 11px; } QLabel#note { color: %3; font-size: 10px; } QLabel#failure { font-size: 10px; } "
                                 "QToolButton[circle=\"true\"] { background: %2; border-radius: 13px; border: none; }")
                      .arg(primary.name(), m_dark ? QStringLiteral("rgba(255,255,255,0.12)") : QStringLiteral("rgba(0,0,0,0.08)"),
                           secondary.name()));
    m_modeButton->setProperty("circle", true);
    m_cancel->setIcon(Icons::icon(QStringLiteral("xmark"), primary));
    m_continuousButton->setProperty("circle", true);
    for (auto* spinner : findChildren<QWidget*>()) {
        if (auto* s = dynamic_cast<Spinner*>(spinner))
            s->color = primary;
    }
    m_confirmationIcon->setPixmap(Icons::pixmap(QStringLiteral("checkmark.circle.fill"), QColor(0x34, 0xc7, 0x59), 16, devicePixelRatioF()));
    m_failureIcon->setPixmap(Icons::pixmap(QStringLiteral("exclamationmark.triangle.fill"), QColor(0xff, 0x95, 0x00), 16, devicePixelRatioF()));
    m_modeButton->setIcon(Icons::icon(modeSymbol(mode), primary));
    m_continuousButton->setIcon(Icons::icon(continuousOn ? QStringLiteral("repeat.circle.fill") : QStringLiteral("repeat.circle"),
                                            continuousOn ? QColor(0xff, 0x95, 0x00) : primary));
    m_bubble->setStyleSheet(QStringLiteral("QLabel { color: %1; font-size: 11px; font-weight: 500; background: %2; "
                                           "border-radius: 9px; padding: 4px 8px; }")
                                .arg(secondary.name(), m_dark ? QStringLiteral("rgba(44,44,46,0.92)") : QStringLiteral("rgba(255,255,255,0.92)")));
    m_timeStyle.clear();
}

void RecordingIndicatorView::refresh()
{
    const QColor primary = m_dark ? QColor(0xf2, 0xf2, 0xf7) : QColor(0x1c, 0x1c, 0x1e);
    const QColor secondary = m_dark ? QColor(0xae, 0xae, 0xb2) : QColor(0x6c, 0x6c, 0x70);
    restyle(primary, secondary);

    const QString failure = m_controller.failureText();
    m_face = !failure.isEmpty() ? Face::Failure
                                : faceFor(m_controller.showCopied(), m_state.isRewriting(), m_state.isRecording());
    m_faces->setCurrentIndex(static_cast<int>(m_face));
    m_confirmation->setText(confirmationText());
    m_confirmationNote->setText(m_controller.confirmationNote());
    m_confirmationNote->setVisible(!m_confirmationNote->text().isEmpty());
    // The symbol is drawn, so the status line's own "⚠️" is not shown twice.
    // Two lines of what was heard, the newest words at the end.
    // The line is there from the start of the recording, so that nothing moves when words come.
    const QString heard = m_state.heardText().simplified();
    m_heard->setVisible(m_face == Face::Recording);
    if (heard.isEmpty()) {
        m_heard->setText(QStringLiteral("聞き取った言葉がここに出ます"));
    } else {
        const QString tail = QFontMetrics(m_heard->font()).elidedText(heard, Qt::ElideLeft, 2 * m_heard->width() - 24);
        m_heard->setText(fitLines(tail, m_heard->font(), m_heard->width(), 2));
    }
    const std::optional<DictationOutcome>& outcome = m_state.outcome();
    const bool showPasted = m_face == Face::Confirmation && m_controller.confirmationNote().isEmpty() && outcome
                            && outcome->pasted() && !outcome->text.isEmpty();
    m_pasted->setVisible(showPasted);
    if (showPasted)
        m_pasted->setText(fitLines(outcome->text.simplified(), m_pasted->font(), m_pasted->width(), 1));
    // A line shown or hidden changes the faces' height: the capsule is drawn around the new one.
    if (layout())
        layout()->activate();
    update();
    const bool retryable = m_face == Face::Failure && m_dictation && outcome && !outcome->retryEntry.isNull();
    m_retry->setVisible(retryable);
    m_failure->setFixedWidth(retryable ? 180 : 228);
    // Three lines at the most: the panel keeps its size, and the whole text is in the tooltip.
    const QString failureText = failure.startsWith(QStringLiteral("⚠️")) ? failure.mid(2).trimmed() : failure;
    m_failure->setText(fitLines(failureText, m_failure->font(), m_failure->width(), 3));
    m_failure->setToolTip(failureText);

    const CorrectionMode mode = m_settings ? m_settings->correctionMode() : CorrectionMode::Instant;
    m_bubble->setText(m_settings ? QStringLiteral("校正: %1（もう一度押すと切り替え）").arg(displayName(mode)) : QString());
    m_modeButton->setToolTip(m_settings ? QStringLiteral("校正モード: %1").arg(displayName(mode)) : QString());
    if (m_settings) {
        const ContinuousMode continuous = m_settings->continuousMode();
        m_continuousButton->setToolTip(QStringLiteral("連続会話モード: %1（押すと切り替え）")
                                           .arg(continuous == ContinuousMode::Off        ? QStringLiteral("オフ")
                                                : continuous == ContinuousMode::PasteOnly ? QStringLiteral("ペーストのみ")
                                                                                          : QStringLiteral("自動送信")));
        m_cancel->setToolTip(QStringLiteral("キャンセル（%1）").arg(m_settings->cancelShortcut().label()));
    }

    const std::optional<int> countdown = m_state.silenceCountdown();
    QString timeStyle;
    if (m_state.isWaitingForModel()) {
        m_time->setText(QStringLiteral("モデル読み込み中…"));
        timeStyle = QStringLiteral("QLabel { color: %1; font-size: 11px; }").arg(secondary.name());
    } else if (m_state.isContinuous() && countdown && *countdown >= 1) {
        m_time->setText(QString::number(*countdown));
        timeStyle = QStringLiteral("QLabel { color: %1; font-size: 18px; font-weight: bold; }").arg(secondary.name());
    } else if (m_state.isContinuous()) {
        m_time->setText(QString());
    } else {
        m_time->setText(formatTime(m_state.elapsedTime()));
        timeStyle = QStringLiteral("QLabel { color: %1; font-size: 11px; font-family: monospace; }").arg(primary.name());
    }
    if (!timeStyle.isEmpty() && timeStyle != m_timeStyle) {
        m_timeStyle = timeStyle;
        m_time->setStyleSheet(timeStyle);
    }
    m_time->setVisible(!m_time->text().isEmpty());
    if (m_bubble->isVisible() && (!m_state.isRecording() || !m_settings))
        m_bubble->hide();
    update();
}

void RecordingIndicatorView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRect inner = m_faces->geometry();
    for (QLabel* line : {m_heard, m_pasted})
        if (line->isVisible())
            inner = inner.united(QRect(line->mapTo(this, QPoint()), line->size()));
    const QRect content = inner.adjusted(-14, -8, 14, 8).intersected(rect());
    QPainterPath capsule;
    // A capsule; a reason of several lines gets a rounded rectangle instead.
    const double radius = std::min(content.height() / 2.0, 18.0);
    capsule.addRoundedRect(content, radius, radius);
    p.fillPath(capsule, m_dark ? QColor(30, 30, 32, 225) : QColor(250, 250, 252, 225));
    p.setPen(QPen(m_dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 30), 1));
    p.drawPath(capsule);
    if (!m_bubble->isHidden()) {
        m_bubble->adjustSize();
        m_bubble->move(content.center().x() - m_bubble->width() / 2, std::max(0, content.top() - m_bubble->height() - 2));
    }
}

void RecordingIndicatorView::mouseReleaseEvent(QMouseEvent* event)
{
    // A click dismisses the reason for a failed start; on other faces the panel is dragged.
    if (m_face == Face::Failure && event->button() == Qt::LeftButton) {
        m_controller.hideImmediately();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void RecordingIndicatorView::showBubble(bool visible)
{
    if (visible && m_state.isRecording() && m_settings) {
        m_bubble->adjustSize();
        m_bubble->show();
        m_bubble->raise();
    } else {
        m_bubble->hide();
    }
    update();
}

// The first click shows the mode; only a second one while it shows changes it: a stray click
// on the panel never changes how every later dictation is corrected.
void RecordingIndicatorView::clickModeButton()
{
    if (!m_settings)
        return;
    if (isModeBubbleVisible()) {
        const auto& all = allCorrectionModes;
        const auto it = std::find(all.begin(), all.end(), m_settings->correctionMode());
        const size_t index = it == all.end() ? 0 : static_cast<size_t>(it - all.begin());
        m_settings->setCorrectionMode(all[(index + 1) % all.size()]);
    }
    showBubble(true);
    QPointer<RecordingIndicatorView> self(this);
    m_hoverTimer = m_controller.clock().schedule(3.0, false, [self] {
        if (self)
            self->showBubble(false);
    });
}

void RecordingIndicatorView::hoverModeButton(bool inside)
{
    m_hoverTimer.reset();
    if (!inside) {
        showBubble(false);
        return;
    }
    QPointer<RecordingIndicatorView> self(this);
    m_hoverTimer = m_controller.clock().schedule(1.0, false, [self] {
        if (self)
            self->showBubble(true);
    });
}

bool RecordingIndicatorView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_modeButton) {
        if (event->type() == QEvent::Enter)
            hoverModeButton(true);
        else if (event->type() == QEvent::Leave)
            hoverModeButton(false);
    }
    return QWidget::eventFilter(watched, event);
}

void RecordingIndicatorView::clickContinuousButton()
{
    if (!m_settings)
        return;
    const auto& all = allContinuousModes;
    const auto it = std::find(all.begin(), all.end(), m_settings->continuousMode());
    const size_t index = it == all.end() ? 0 : static_cast<size_t>(it - all.begin());
    m_settings->setContinuousMode(all[(index + 1) % all.size()]);
}

void RecordingIndicatorView::clickStop()
{
    if (m_dictation && m_state.isRecording())
        m_dictation->toggle(nullptr, Dictation::Extent::Plain);
}

} // namespace vel
