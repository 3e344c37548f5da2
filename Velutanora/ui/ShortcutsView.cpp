#include "ui/ShortcutsView.h"

#include "dictation/KeyTranslation.h"
#include "settings/AppSettings.h"
#include "ui/GlassCard.h"
#include "ui/Icons.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vel {

ShortcutRecorderView::ShortcutRecorderView(std::function<ShortcutKey()> get, std::function<void(const ShortcutKey&)> set,
                                           QWidget* parent)
    : QPushButton(parent), m_get(std::move(get)), m_set(std::move(set))
{
    setMinimumWidth(80);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QPushButton::clicked, this, &ShortcutRecorderView::startRecording);
    refresh();
}

std::optional<quint32> ShortcutRecorderView::keysymFor(const QKeyEvent& event)
{
    // On X11 and Wayland the native virtual key is the keysym, which tells left and right modifiers apart.
    std::optional<quint32> keysym;
    if (event.nativeVirtualKey() != 0)
        keysym = KeyTranslation::normalizedKeysym(event.nativeVirtualKey());
    else
        keysym = KeyTranslation::keysymForQtKey(event.key());
    // Shift+1 reports "!", a symbol of the key's second level that no grab of the key sees.
    if (keysym && *keysym > 0x20 && *keysym < 0x7f && !(*keysym >= 'a' && *keysym <= 'z')
        && (event.modifiers() & Qt::ShiftModifier))
        return std::nullopt;
    return keysym;
}

void ShortcutRecorderView::refresh()
{
    setText(m_recording ? QStringLiteral("キーを入力...") : m_get().label());
    // A style sheet fixes the text colour when it is applied: it is taken from the window's
    // palette each time (the window refreshes it when its appearance changes).
    const QString text = window()->palette().color(QPalette::WindowText).name();
    const QString sheet = m_recording
        ? QStringLiteral("QPushButton { color: %1; border: 1.5px solid palette(highlight); border-radius: 6px; padding: 5px 10px; }").arg(text)
        : QStringLiteral("QPushButton { color: %1; border-radius: 6px; padding: 5px 10px; }").arg(text);
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
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
    const std::optional<quint32> keysym = keysymFor(*event);
    const quint8 modifiers = KeyTranslation::modifiersForQt(event->modifiers());
    if (!keysym || ShortcutKey::isModifierKey(*keysym))
        return; // a modifier going down: wait for the key, or for its release
    if (*keysym == ShortcutKey::kEscape && modifiers == 0) {
        stopRecording();
        return;
    }
    m_set(ShortcutKey{*keysym, modifiers});
    stopRecording();
}

void ShortcutRecorderView::keyReleaseEvent(QKeyEvent* event)
{
    if (!m_recording) {
        QPushButton::keyReleaseEvent(event);
        return;
    }
    const std::optional<quint32> keysym = keysymFor(*event);
    if (!keysym || !ShortcutKey::isModifierKey(*keysym))
        return;
    // The modifier was released with no other modifier still down: a lone-modifier shortcut.
    if ((KeyTranslation::modifiersForQt(event->modifiers()) & ~ShortcutKey::modifierOf(*keysym)) != 0)
        return;
    if (!m_loneModifierRefusal.isEmpty()) {
        stopRecording();
        emit refused(m_loneModifierRefusal);
        return;
    }
    m_set(ShortcutKey{*keysym, 0});
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
    m_conflicts = new QLabel;
    m_conflicts->setWordWrap(true);
    m_conflicts->setObjectName(QStringLiteral("conflicts"));
    m_conflicts->hide();
    card->content()->addWidget(m_conflicts);

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
    m_recorderNote = makeNote(QString());
    m_recorderNote->setWordWrap(true);
    m_recorderNote->hide();
    card->content()->addWidget(m_recorderNote);
    m_desktopTriggers = makeNote(QString());
    m_desktopTriggers->setWordWrap(true);
    m_desktopTriggers->hide();
    card->content()->addWidget(m_desktopTriggers);
    m_configure = new QPushButton(QStringLiteral("デスクトップのショートカット設定を開く"));
    m_configure->hide();
    card->content()->addWidget(m_configure, 0, Qt::AlignLeft);
    connect(m_configure, &QPushButton::clicked, this, [this] {
        if (m_configureDesktop)
            m_configureDesktop();
    });
    column->addWidget(card);

    auto* capabilityCard = new GlassCard(12);
    m_capabilityCard = capabilityCard;
    capabilityCard->content()->addWidget(makeHeading(QStringLiteral("このデスクトップで使えるもの"), QStringLiteral("keyboard")));
    m_capabilities = new QLabel;
    m_capabilities->setWordWrap(true);
    m_capabilities->setTextFormat(Qt::PlainText);
    m_capabilities->setTextInteractionFlags(Qt::TextSelectableByMouse);
    capabilityCard->content()->addWidget(m_capabilities);
    capabilityCard->setVisible(false);
    column->addWidget(capabilityCard);

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
    m_installBindings = new QPushButton;
    m_installBindings->hide();
    copyRow->addWidget(m_installBindings);
    copyRow->addWidget(m_copyBindings);
    m_bindingsCard->content()->addLayout(copyRow);
    m_bindingsCard->hide();
    column->addWidget(m_bindingsCard);
    column->addStretch();
    connect(m_installBindings, &QPushButton::clicked, this, [this] {
        if (!m_install)
            return;
        const QString failure = m_install(m_settings.startShortcut(), m_settings.cancelShortcut());
        if (failure.isEmpty()) {
            showBindingConfirmed(false);
            return;
        }
        m_recorderNote->setText(QStringLiteral("登録できませんでした: ") + failure);
        m_recorderNote->show();
    });
    connect(m_copyBindings, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_bindingsText->toPlainText()); });

    connect(m_defaults, &QPushButton::clicked, this, [this] {
        confirmDestructive(this, QStringLiteral("二つのショートカットをデフォルトに戻しますか？ いまの設定は失われます。"),
                           QStringLiteral("デフォルトに戻す"), [this] {
                               m_settings.setStartShortcut(ShortcutKey::defaultStart());
                               m_settings.setCancelShortcut(ShortcutKey::defaultCancel());
                           });
    });
    for (ShortcutRecorderView* recorder : {m_start, m_cancel}) {
        connect(recorder, &ShortcutRecorderView::recordingChanged, this, [this] {
            emit capturingChanged(m_start->isRecording() || m_cancel->isRecording());
        });
        connect(recorder, &ShortcutRecorderView::refused, this, [this](const QString& reason) {
            m_recorderNote->setText(QStringLiteral("単独の修飾キーはここでは使えません: ") + reason);
            m_recorderNote->show();
        });
    }
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

void ShortcutsView::setBindingsInstaller(const QString& label,
                                         std::function<QString(const ShortcutKey&, const ShortcutKey&)> install)
{
    m_install = std::move(install);
    m_installBindings->setText(label);
    m_installBindings->show();
}

void ShortcutsView::showBindingConfirmed(bool confirmed)
{
    m_recorderNote->setText(
        confirmed ? QStringLiteral("登録したショートカットが届きました。ショートカットを変えたときは、もう一度登録してください。")
                  : QStringLiteral("デスクトップのショートカットに登録しました（確認待ち）。一度押して録音が始まれば使えています。"
                                   "始まらないときは、デスクトップが別の用途でそのキーを使っています。"));
    m_recorderNote->show();
}

void ShortcutsView::showDesktopShortcuts(const QString& mechanism, std::function<QString(const QString& id)> trigger,
                                         std::function<void()> configure)
{
    m_desktopMechanism = mechanism;
    m_trigger = std::move(trigger);
    m_configureDesktop = std::move(configure);
    m_configure->setVisible(static_cast<bool>(m_configureDesktop));
    m_desktopTriggers->show();
    refreshDesktopTriggers();
}

void ShortcutsView::refreshDesktopTriggers()
{
    if (!m_trigger)
        return;
    // The desktop may bind other keys than asked, or none until the user confirms: say what it bound.
    auto shown = [this](const QString& id) {
        const QString t = m_trigger(id);
        return t.isEmpty() ? QStringLiteral("（未割り当て）") : t;
    };
    m_desktopTriggers->setText(QStringLiteral("ショートカットはデスクトップ（%1）が割り当てます。割り当て中のキー: 録音開始 %2、キャンセル %3")
                                   .arg(m_desktopMechanism, shown(DesktopShortcuts::kToggle), shown(DesktopShortcuts::kCancel)));
}

void ShortcutsView::showCapabilities(const QList<DesktopCapability>& capabilities)
{
    // A drawn mark per row, not an emoji: without a colour-emoji font those read as boxes.
    qDeleteAll(m_capabilityRows);
    m_capabilityRows.clear();
    QStringList lines;
    auto* content = static_cast<GlassCard*>(m_capabilityCard)->content();
    for (const DesktopCapability& c : capabilities) {
        lines << QStringLiteral("%1: %2（%3）").arg(c.name, c.state, c.works ? QStringLiteral("使えます") : QStringLiteral("使えません"));
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* mark = new QLabel;
        mark->setPixmap(Icons::pixmap(c.works ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("exclamationmark.triangle.fill"),
                                      c.works ? QColor(0x34, 0xc7, 0x59) : QColor(0xff, 0x95, 0x00), 14, devicePixelRatioF()));
        mark->setAccessibleName(c.works ? QStringLiteral("使えます") : QStringLiteral("使えません"));
        auto* text = new QLabel(QStringLiteral("%1: %2").arg(c.name, c.state));
        text->setWordWrap(true);
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(mark, 0, Qt::AlignTop);
        layout->addWidget(text, 1);
        content->insertWidget(content->indexOf(m_capabilities), row);
        m_capabilityRows.append(row);
    }
    // The plain text stays for copying and for screen readers.
    m_capabilities->setText(lines.join(QLatin1Char('\n')));
    m_capabilities->hide();
    m_capabilityCard->setVisible(!lines.isEmpty());
    qDeleteAll(m_capabilityActions);
    m_capabilityActions.clear();
    for (const DesktopCapability& c : capabilities) {
        if (!c.action)
            continue;
        auto* button = new QPushButton(c.actionLabel);
        connect(button, &QPushButton::clicked, this, [this, button, action = c.action] {
            button->setEnabled(false);
            m_recorderNote->setText(action() ? QStringLiteral("有効にしました。プログラムを再起動すると使います。")
                                             : QStringLiteral("有効にできませんでした。「拡張機能」アプリから有効にしてください。"));
            m_recorderNote->show();
        });
        static_cast<GlassCard*>(m_capabilityCard)->content()->addWidget(button, 0, Qt::AlignRight);
        m_capabilityActions.append(button);
    }
}

void ShortcutsView::showConflicts(const QString& advice)
{
    m_conflicts->setText(advice);
    m_conflicts->setVisible(!advice.isEmpty());
}

QString ShortcutsView::conflictText() const { return m_conflicts->isVisible() ? m_conflicts->text() : QString(); }

void ShortcutsView::refuseLoneModifiers(const QString& reason)
{
    m_start->refuseLoneModifiers(reason);
    m_cancel->refuseLoneModifiers(reason);
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
