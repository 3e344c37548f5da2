#include "ui/GeneralSettingsView.h"

#include "settings/AppSettings.h"
#include "ui/GlassCard.h"
#include "ui/MicrophonePicker.h"
#include "ui/ModelCard.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
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
    key->content()->addWidget(m_apiKey);
    key->content()->addWidget(makeNote(QStringLiteral("Google AI Studio で取得できます")));
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

    for (auto signal : {&AppSettings::appearanceModeChanged, &AppSettings::correctionModeChanged,
                        &AppSettings::continuousModeChanged, &AppSettings::continuousSilenceSecondsChanged,
                        &AppSettings::stealthModeChanged, &AppSettings::assumePoorDictionChanged,
                        &AppSettings::removeFillersChanged, &AppSettings::launchAtLoginChanged,
                        &AppSettings::geminiApiKeyChanged, &AppSettings::userOccupationChanged})
        connect(&m_settings, signal, this, &GeneralSettingsView::refresh);
    refresh();
}

void GeneralSettingsView::refresh()
{
    const QSignalBlocker blockers[] = {QSignalBlocker(m_stealth), QSignalBlocker(m_poorDiction), QSignalBlocker(m_fillers),
                                       QSignalBlocker(m_launchAtLogin), QSignalBlocker(m_silence)};
    if (m_apiKey->text() != m_settings.geminiApiKey())
        m_apiKey->setText(m_settings.geminiApiKey());
    if (m_occupation->text() != m_settings.userOccupation())
        m_occupation->setText(m_settings.userOccupation());
    m_appearance->setCurrentIndex(indexOf(allAppearanceModes, m_settings.appearanceMode()));
    const int correction = indexOf(allCorrectionModes, m_settings.correctionMode());
    m_correction->setCurrentIndex(correction);
    m_correctionNote->setText(correctionNote(correction));
    const int continuous = indexOf(allContinuousModes, m_settings.continuousMode());
    m_continuous->setCurrentIndex(continuous);
    m_continuousNote->setText(continuousNote(continuous));
    m_stealth->setChecked(m_settings.stealthMode());
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
