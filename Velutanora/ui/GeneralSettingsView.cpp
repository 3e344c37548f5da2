#include "ui/GeneralSettingsView.h"

#include "settings/AppSettings.h"
#include "ui/GlassCard.h"
#include "ui/Icons.h"
#include "ui/MicrophonePicker.h"
#include "ui/ModelCard.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace vel {

namespace {

QStringList names(auto modes)
{
    QStringList out;
    for (auto m : modes)
        out << displayName(m);
    return out;
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette pal = line->palette();
    QColor c = pal.color(QPalette::WindowText);
    c.setAlphaF(0.15f);
    pal.setColor(QPalette::WindowText, c);
    line->setPalette(pal);
    return line;
}

template <class Enum, size_t N>
int indexOf(const std::array<Enum, N>& all, Enum value)
{
    return static_cast<int>(std::find(all.begin(), all.end(), value) - all.begin());
}

} // namespace

void GeneralSettingsView::setKeyCheck(KeyCheck check)
{
    m_keyCheck = std::move(check);
    m_testKey->setEnabled(m_keyCheck && !m_settings.geminiApiKey().isEmpty());
}

void GeneralSettingsView::showStatus(const QString& status)
{
    // The status lines begin with a symbol of their own; the card draws its own mark.
    QString text = status;
    QString symbol;
    if (text.startsWith(QStringLiteral("✅")))
        symbol = QStringLiteral("checkmark.circle.fill");
    else if (text.startsWith(QStringLiteral("⚠️")) || text.startsWith(QStringLiteral("🚫")))
        symbol = QStringLiteral("exclamationmark.triangle.fill");
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    if (space > 0 && space <= 3 && !text.at(0).isLetterOrNumber())
        text = text.mid(space + 1);
    m_status->setText(text);
    m_statusMark->setVisible(!symbol.isEmpty());
    if (!symbol.isEmpty())
        m_statusMark->setPixmap(Icons::pixmap(symbol, symbol.startsWith(QLatin1String("check")) ? QColor(0x34, 0xc7, 0x59)
                                                                                               : QColor(0xff, 0x95, 0x00),
                                              16, devicePixelRatioF()));
    m_statusCard->setVisible(!text.isEmpty());
}

QString GeneralSettingsView::statusText() const { return m_status->text(); }
QString GeneralSettingsView::keyCheckResult() const { return m_keyResult->text(); }

QString GeneralSettingsView::correctionNote(int modeIndex)
{
    switch (modeIndex) {
    case 0: return QStringLiteral("Gemini を使わずローカル処理のみで出力します");
    case 1: return QStringLiteral("認識ミスだけ修正し、話した通りの文を出力します");
    default: return QStringLiteral("話者の意図を汲み取り、自然で読みやすい文章に校正します");
    }
}

QString GeneralSettingsView::continuousNote(int modeIndex)
{
    switch (modeIndex) {
    case 0: return QStringLiteral("通常の音声入力モード");
    case 1: return QStringLiteral("ペースト後、自動で次の録音を開始します");
    default: return QStringLiteral("ペースト＋Enter送信後、自動で次の録音を開始します");
    }
}

GeneralSettingsView::GeneralSettingsView(AppSettings& settings, ModelControl* models, QWidget* parent)
    : QWidget(parent), m_settings(settings)
{
    QVBoxLayout* column = makeScrollingColumn(this);

    // The state of things in one place, kept current: the last status line (a dictation, the
    // model, a failure), with a drawn mark instead of its emoji.
    m_statusCard = new GlassCard;
    auto* statusRow = new QHBoxLayout;
    m_statusMark = new QLabel;
    m_status = new QLabel;
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusRow->addWidget(m_statusMark, 0, Qt::AlignTop);
    statusRow->addWidget(m_status, 1);
    m_statusCard->content()->addLayout(statusRow);
    m_statusCard->hide();
    column->addWidget(m_statusCard);

    if (models) {
        m_modelCard = new ModelCard(*models, settings);
        column->addWidget(m_modelCard);
    }

    m_microphone = new MicrophonePicker(settings);
    column->addWidget(m_microphone);

    // 1. API key
    auto* key = new GlassCard;
    key->content()->addWidget(makeHeading(QStringLiteral("Gemini API キー"), QStringLiteral("key")));
    m_apiKey = new QLineEdit;
    m_apiKey->setEchoMode(QLineEdit::Password);
    m_apiKey->setPlaceholderText(QStringLiteral("APIキーを入力"));
    m_apiKey->setText(settings.geminiApiKey());
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(m_apiKey, 1);
    m_testKey = new QPushButton(QStringLiteral("キーを確認"));
    m_testKey->setEnabled(false);
    keyRow->addWidget(m_testKey);
    key->content()->addLayout(keyRow);
    m_keyResult = makeNote(QString());
    m_keyResult->setWordWrap(true);
    m_keyResult->hide();
    key->content()->addWidget(m_keyResult);
    key->content()->addWidget(makeNote(QStringLiteral("Google AI Studio で取得できます")));
    connect(m_testKey, &QPushButton::clicked, this, [this] {
        if (!m_keyCheck)
            return;
        m_testKey->setEnabled(false);
        m_keyResult->setText(QStringLiteral("確認しています…"));
        m_keyResult->show();
        m_keyCheck(m_settings.geminiApiKey(), [self = QPointer<GeneralSettingsView>(this)](const QString& failure) {
            if (!self)
                return;
            self->m_keyResult->setText(failure.isEmpty() ? QStringLiteral("このキーで Gemini API を使えます") : failure);
            self->m_testKey->setEnabled(!self->m_settings.geminiApiKey().isEmpty());
        });
    });
    connect(m_apiKey, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_testKey->setEnabled(m_keyCheck && !text.isEmpty());
        m_keyResult->hide();
    });
    column->addWidget(key);
    connect(m_apiKey, &QLineEdit::textEdited, this, [this](const QString& text) { m_settings.setGeminiApiKey(text); });

    // 2. Appearance
    auto* look = new GlassCard;
    look->content()->addWidget(makeHeading(QStringLiteral("外観"), QStringLiteral("circle.lefthalf.filled")));
    m_appearance = new SegmentedPicker(QStringLiteral("外観モード"), names(allAppearanceModes));
    look->content()->addWidget(m_appearance);
    column->addWidget(look);
    connect(m_appearance, &SegmentedPicker::currentIndexChanged, this,
            [this](int i) { m_settings.setAppearanceMode(allAppearanceModes[static_cast<size_t>(i)]); });

    // 3. Occupation
    auto* job = new GlassCard;
    job->content()->addWidget(makeHeading(QStringLiteral("あなたの職業・分野"), QStringLiteral("person.text.rectangle")));
    m_occupation = new QLineEdit;
    m_occupation->setPlaceholderText(QStringLiteral("例: エンジニア、税理士、医師"));
    m_occupation->setText(settings.userOccupation());
    job->content()->addWidget(m_occupation);
    job->content()->addWidget(makeNote(QStringLiteral("入力すると専門用語の認識精度が向上します")));
    column->addWidget(job);
    connect(m_occupation, &QLineEdit::textEdited, this, [this](const QString& text) { m_settings.setUserOccupation(text); });

    // 4. Stealth
    auto* stealth = new GlassCard;
    m_stealth = new QCheckBox(QStringLiteral("ステルスモード"));
    stealth->content()->addWidget(m_stealth);
    stealth->content()->addWidget(makeNote(QStringLiteral("録音パネルを非表示にし、トレイアイコンだけで状態を表示します")));
    column->addWidget(stealth);
    connect(m_stealth, &QCheckBox::toggled, this, [this](bool on) { m_settings.setStealthMode(on); });

    // Diagnostics: what was said stays out of the logs unless the user asks.
    auto* diagnostics = new GlassCard;
    m_debugLogging = new QCheckBox(QStringLiteral("診断ログに口述内容も記録する"));
    diagnostics->content()->addWidget(m_debugLogging);
    diagnostics->content()->addWidget(makeNote(QStringLiteral(
        "不具合を調べるとき用です。口述した文と Gemini とのやり取りを、あなただけが読める "
        "~/.local/state/velutanora/velutanora_debug.log に記録します。オフのときは文字数だけを記録します")));
    column->addWidget(diagnostics);
    connect(m_debugLogging, &QCheckBox::toggled, this, [this](bool on) { m_settings.setDebugLogging(on); });

    // 5. Poor diction
    auto* diction = new GlassCard;
    m_poorDiction = new QCheckBox(QStringLiteral("滑舌が悪い前提で認識する"));
    diction->content()->addWidget(m_poorDiction);
    diction->content()->addWidget(makeNote(QStringLiteral("ONにすると、不明瞭な発音による誤認識を文脈から積極的に修正します")));
    column->addWidget(diction);
    connect(m_poorDiction, &QCheckBox::toggled, this, [this](bool on) { m_settings.setAssumePoorDiction(on); });

    // 6. Processing
    auto* processing = new GlassCard(12);
    processing->content()->addWidget(makeHeading(QStringLiteral("校正モード"), QStringLiteral("gauge.with.dots.needle.67percent")));
    m_correction = new SegmentedPicker(QStringLiteral("校正モード"), names(allCorrectionModes));
    processing->content()->addWidget(m_correction);
    m_correctionNote = makeNote(QString());
    processing->content()->addWidget(m_correctionNote);
    processing->content()->addWidget(divider());
    auto* fillers = new QVBoxLayout;
    fillers->setSpacing(4);
    m_fillers = new QCheckBox(QStringLiteral("フィラー（言い淀み）を除去"));
    fillers->addWidget(m_fillers);
    fillers->addWidget(makeNote(QStringLiteral("「えーっと」「あのー」等を自動で除去します")));
    processing->content()->addLayout(fillers);
    processing->content()->addWidget(divider());
    auto* continuousHeading = new QLabel(QStringLiteral("連続会話モード"));
    QFont strong = continuousHeading->font();
    strong.setBold(true);
    continuousHeading->setFont(strong);
    processing->content()->addWidget(continuousHeading);
    m_continuous = new SegmentedPicker(QStringLiteral("連続会話モード"), names(allContinuousModes));
    processing->content()->addWidget(m_continuous);
    m_continuousNote = makeNote(QString());
    processing->content()->addWidget(m_continuousNote);
    m_silenceRow = new QWidget;
    auto* silence = new QHBoxLayout(m_silenceRow);
    silence->setContentsMargins(0, 0, 0, 0);
    silence->addWidget(new QLabel(QStringLiteral("無音判定")));
    m_silence = new QSlider(Qt::Horizontal);
    m_silence->setRange(2, 10); // 1.0 to 5.0 seconds in steps of 0.5
    m_silence->setPageStep(1);
    silence->addWidget(m_silence, 1);
    m_silenceValue = new QLabel;
    m_silenceValue->setFixedWidth(40);
    silence->addWidget(m_silenceValue);
    processing->content()->addWidget(m_silenceRow);
    m_silenceNote = makeNote(QStringLiteral("発話終了から次の処理までの待機時間"));
    processing->content()->addWidget(m_silenceNote);
    column->addWidget(processing);
    connect(m_correction, &SegmentedPicker::currentIndexChanged, this,
            [this](int i) { m_settings.setCorrectionMode(allCorrectionModes[static_cast<size_t>(i)]); });
    connect(m_fillers, &QCheckBox::toggled, this, [this](bool on) { m_settings.setRemoveFillers(on); });
    connect(m_continuous, &SegmentedPicker::currentIndexChanged, this,
            [this](int i) { m_settings.setContinuousMode(allContinuousModes[static_cast<size_t>(i)]); });
    connect(m_silence, &QSlider::valueChanged, this, [this](int v) { m_settings.setContinuousSilenceSeconds(v * 0.5); });

    // 7. Start-up
    auto* login = new GlassCard;
    m_launchAtLogin = new QCheckBox(QStringLiteral("ログイン時に起動"));
    login->content()->addWidget(m_launchAtLogin);
    column->addWidget(login);
    connect(m_launchAtLogin, &QCheckBox::toggled, this, [this](bool on) { m_settings.setLaunchAtLogin(on); });

    column->addStretch();

    for (auto signal : {&AppSettings::appearanceModeChanged, &AppSettings::correctionModeChanged, &AppSettings::geminiApiKeyChanged,
                        &AppSettings::continuousModeChanged, &AppSettings::continuousSilenceSecondsChanged,
                        &AppSettings::stealthModeChanged, &AppSettings::assumePoorDictionChanged, &AppSettings::debugLoggingChanged,
                        &AppSettings::removeFillersChanged, &AppSettings::launchAtLoginChanged,
                        &AppSettings::geminiApiKeyChanged, &AppSettings::userOccupationChanged})
        connect(&m_settings, signal, this, &GeneralSettingsView::refresh);
    refresh();
}

void GeneralSettingsView::refresh()
{
    const QSignalBlocker blockers[] = {QSignalBlocker(m_debugLogging), QSignalBlocker(m_stealth), QSignalBlocker(m_poorDiction), QSignalBlocker(m_fillers),
                                       QSignalBlocker(m_launchAtLogin), QSignalBlocker(m_silence)};
    if (m_apiKey->text() != m_settings.geminiApiKey())
        m_apiKey->setText(m_settings.geminiApiKey());
    if (m_occupation->text() != m_settings.userOccupation())
        m_occupation->setText(m_settings.userOccupation());
    m_appearance->setCurrentIndex(indexOf(allAppearanceModes, m_settings.appearanceMode()));
    const int correction = indexOf(allCorrectionModes, m_settings.correctionMode());
    m_correction->setCurrentIndex(correction);
    QString note = correctionNote(correction);
    if (m_settings.correctionMode() != CorrectionMode::Instant) {
        note += QStringLiteral("。録音した音声を Google の Gemini API に送ります（APIキーが必要です）");
        if (m_settings.geminiApiKey().isEmpty())
            note += QStringLiteral("。APIキーが未設定のため、いまは超高速（ローカル処理のみ）で動いています");
    }
    m_correctionNote->setText(note);
    const int continuous = indexOf(allContinuousModes, m_settings.continuousMode());
    m_continuous->setCurrentIndex(continuous);
    m_continuousNote->setText(continuousNote(continuous));
    m_stealth->setChecked(m_settings.stealthMode());
    m_debugLogging->setChecked(m_settings.debugLogging());
    m_poorDiction->setChecked(m_settings.assumePoorDiction());
    m_fillers->setChecked(m_settings.removeFillers());
    m_launchAtLogin->setChecked(m_settings.launchAtLogin());
    const double seconds = m_settings.continuousSilenceSeconds();
    m_silence->setValue(static_cast<int>(std::lround(seconds * 2)));
    m_silenceValue->setText(QString::number(seconds, 'f', 1) + QStringLiteral("秒"));
    const bool on = m_settings.continuousMode() != ContinuousMode::Off;
    m_silenceRow->setVisible(on);
    m_silenceNote->setVisible(on);
}

} // namespace vel
