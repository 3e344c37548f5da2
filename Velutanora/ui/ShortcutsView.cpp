#include "ui/ShortcutsView.h"

#include "desktop/KeyTranslation.h"
#include "settings/AppSettings.h"
#include "ui/GlassCard.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vel {

namespace {

// Keysyms of the Qt keys a recorder may see without a native key (other platforms, tests).
std::optional<quint32> keysymForQtKey(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<quint32>('a' + (key - Qt::Key_A));
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space || key == Qt::Key_Minus || key == Qt::Key_Equal
        || key == Qt::Key_BracketLeft || key == Qt::Key_BracketRight || key == Qt::Key_Semicolon
        || key == Qt::Key_Apostrophe || key == Qt::Key_Comma || key == Qt::Key_Period || key == Qt::Key_Slash
        || key == Qt::Key_Backslash || key == Qt::Key_QuoteLeft)
        return static_cast<quint32>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20)
        return static_cast<quint32>(0xffbe + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Escape: return 0xff1b;
    case Qt::Key_Return: return 0xff0d;
    case Qt::Key_Enter: return 0xff8d;
    case Qt::Key_Tab: return 0xff09;
    case Qt::Key_Backspace: return 0xff08;
    case Qt::Key_Delete: return 0xffff;
    case Qt::Key_Insert: return 0xff63;
    case Qt::Key_Home: return 0xff50;
    case Qt::Key_End: return 0xff57;
    case Qt::Key_PageUp: return 0xff55;
    case Qt::Key_PageDown: return 0xff56;
    case Qt::Key_Left: return 0xff51;
    case Qt::Key_Up: return 0xff52;
    case Qt::Key_Right: return 0xff53;
    case Qt::Key_Down: return 0xff54;
    case Qt::Key_Shift: return 0xffe1;
    case Qt::Key_Control: return 0xffe3;
    case Qt::Key_Alt: return 0xffe9;
    case Qt::Key_Meta:
    case Qt::Key_Super_L: return 0xffeb;
    case Qt::Key_Super_R: return 0xffec;
    case Qt::Key_AltGr: return 0xfe03;
    case Qt::Key_Muhenkan: return 0xff22;
    case Qt::Key_Henkan: return 0xff23;
    default: return std::nullopt;
    }
}

} // namespace

ShortcutRecorderView::ShortcutRecorderView(std::function<ShortcutKey()> get, std::function<void(const ShortcutKey&)> set,
                                           QWidget* parent)
    : QPushButton(parent), m_get(std::move(get)), m_set(std::move(set))
{
    setMinimumWidth(80);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QPushButton::clicked, this, &ShortcutRecorderView::startRecording);
    refresh();
}

quint64 ShortcutRecorderView::modifierBitsFor(Qt::KeyboardModifiers modifiers)
{
    quint64 bits = 0;
    if (modifiers & Qt::ShiftModifier) bits |= ShortcutKey::Shift;
    if (modifiers & Qt::ControlModifier) bits |= ShortcutKey::Control;
    if (modifiers & Qt::AltModifier) bits |= ShortcutKey::Option;
    if (modifiers & Qt::MetaModifier) bits |= ShortcutKey::Command;
    return bits;
}

std::optional<quint16> ShortcutRecorderView::virtualKeyFor(const QKeyEvent& event)
{
    // On X11 the native virtual key is the keysym, which tells left and right modifiers apart.
    if (event.nativeVirtualKey() != 0) {
        if (auto vk = KeyTranslation::virtualKeyForKeysym(event.nativeVirtualKey()))
            return vk;
    }
    if (auto sym = keysymForQtKey(event.key()))
        return KeyTranslation::virtualKeyForKeysym(*sym);
    return std::nullopt;
}

void ShortcutRecorderView::refresh()
{
    setText(m_recording ? QStringLiteral("キーを入力...") : m_get().label());
    setStyleSheet(m_recording ? QStringLiteral("QPushButton { border: 1.5px solid palette(highlight); border-radius: 6px; padding: 5px 10px; }")
                              : QStringLiteral("QPushButton { border-radius: 6px; padding: 5px 10px; }"));
}

void ShortcutRecorderView::startRecording()
{
    if (m_recording)
        return;
    m_recording = true;
    setFocus(Qt::OtherFocusReason);
    grabKeyboard();
    refresh();
    emit recordingChanged(true);
}

void ShortcutRecorderView::stopRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    releaseKeyboard();
    refresh();
    emit recordingChanged(false);
}

void ShortcutRecorderView::keyPressEvent(QKeyEvent* event)
{
    if (!m_recording) {
        QPushButton::keyPressEvent(event);
        return;
    }
    event->accept();
    const std::optional<quint16> vk = virtualKeyFor(*event);
    const quint64 bits = modifierBitsFor(event->modifiers());
    if (!vk || ShortcutKey::isModifierKeyCode(*vk))
        return; // a modifier going down: wait for the key, or for its release
    if (*vk == 53 && bits == 0) {
        stopRecording();
        return;
    }
    m_set(ShortcutKey{*vk, bits});
    stopRecording();
}

void ShortcutRecorderView::keyReleaseEvent(QKeyEvent* event)
{
    if (!m_recording) {
        QPushButton::keyReleaseEvent(event);
        return;
    }
    const std::optional<quint16> vk = virtualKeyFor(*event);
    if (!vk || !ShortcutKey::isModifierKeyCode(*vk))
        return;
    // The modifier was released with no other modifier still down: a lone-modifier shortcut.
    quint64 held = modifierBitsFor(event->modifiers()) & ~ShortcutKey::modifierBitForKeyCode(*vk);
    if (held != 0)
        return;
    m_set(ShortcutKey{*vk, ShortcutKey::modifierBitForKeyCode(*vk)});
    stopRecording();
}

void ShortcutRecorderView::hideEvent(QHideEvent* event)
{
    stopRecording();
    QPushButton::hideEvent(event);
}

void ShortcutRecorderView::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
}

ShortcutsView::ShortcutsView(AppSettings& settings, QWidget* parent) : QWidget(parent), m_settings(settings)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    auto* card = new GlassCard(12);
    auto* header = new QHBoxLayout;
    header->addWidget(makeHeading(QStringLiteral("ショートカット"), QStringLiteral("keyboard")));
    header->addStretch();
    m_defaults = new QPushButton(QStringLiteral("デフォルトに戻す"));
    header->addWidget(m_defaults);
    card->content()->addLayout(header);
    card->content()->addWidget(makeNote(QStringLiteral("クリックしてキーを変更できます")));

    auto row = [](const QString& label) {
        auto* r = new QHBoxLayout;
        auto* l = new QLabel(label);
        l->setFixedWidth(64);
        r->addWidget(l);
        return r;
    };
    QHBoxLayout* startRow = row(QStringLiteral("録音開始"));
    m_start = new ShortcutRecorderView([this] { return m_settings.startShortcut(); },
                                       [this](const ShortcutKey& k) { m_settings.setStartShortcut(k); });
    startRow->addWidget(m_start);
    startRow->addStretch();
    card->content()->addLayout(startRow);
    QHBoxLayout* cancelRow = row(QStringLiteral("キャンセル"));
    m_cancel = new ShortcutRecorderView([this] { return m_settings.cancelShortcut(); },
                                        [this](const ShortcutKey& k) { m_settings.setCancelShortcut(k); });
    cancelRow->addWidget(m_cancel);
    m_esc = new QPushButton(QStringLiteral("Esc に設定"));
    cancelRow->addWidget(m_esc);
    cancelRow->addStretch();
    card->content()->addLayout(cancelRow);
    column->addWidget(card);

    m_bindingsCard = new GlassCard(12);
    m_bindingsCard->content()->addWidget(makeHeading(QStringLiteral("コンポジタの設定"), QStringLiteral("keyboard")));
    m_bindingsNote = makeNote(QString());
    m_bindingsNote->setWordWrap(true);
    m_bindingsCard->content()->addWidget(m_bindingsNote);
    m_bindingsText = new QPlainTextEdit;
    m_bindingsText->setReadOnly(true);
    m_bindingsText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_bindingsText->setFixedHeight(120);
    m_bindingsCard->content()->addWidget(m_bindingsText);
    m_copyBindings = new QPushButton(QStringLiteral("コピー"));
    auto* copyRow = new QHBoxLayout;
    copyRow->addStretch();
    copyRow->addWidget(m_copyBindings);
    m_bindingsCard->content()->addLayout(copyRow);
    m_bindingsCard->hide();
    column->addWidget(m_bindingsCard);
    column->addStretch();
    connect(m_copyBindings, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_bindingsText->toPlainText()); });

    connect(m_defaults, &QPushButton::clicked, this, [this] {
        m_settings.setStartShortcut(ShortcutKey::defaultStart());
        m_settings.setCancelShortcut(ShortcutKey::defaultCancel());
    });
    for (ShortcutRecorderView* recorder : {m_start, m_cancel})
        connect(recorder, &ShortcutRecorderView::recordingChanged, this, [this] {
            emit capturingChanged(m_start->isRecording() || m_cancel->isRecording());
        });
    connect(m_esc, &QPushButton::clicked, this, [this] { m_settings.setCancelShortcut(ShortcutKey::defaultCancel()); });
    connect(&m_settings, &AppSettings::startShortcutChanged, this, &ShortcutsView::refresh);
    connect(&m_settings, &AppSettings::cancelShortcutChanged, this, &ShortcutsView::refresh);
    refresh();
}

void ShortcutsView::showDesktopBindings(const QString& compositorName, BindingLines lines)
{
    m_bindingLines = std::move(lines);
    m_bindingsNote->setText(QStringLiteral("Waylandではショートカットをコンポジタ（%1）が受け取ります。次の行を設定ファイルに加えて"
                                           "再読み込みしてください。ショートカットを変えたときは、書き換えた行をもう一度加えてください。")
                                .arg(compositorName));
    m_bindingsCard->show();
    refresh();
}

void ShortcutsView::refresh()
{
    m_start->refresh();
    m_cancel->refresh();
    if (m_bindingLines)
        m_bindingsText->setPlainText(m_bindingLines(m_settings.startShortcut(), m_settings.cancelShortcut()));
    m_esc->setEnabled(!(m_settings.cancelShortcut() == ShortcutKey::defaultCancel()));
}

} // namespace vel
