#pragma once

#include "settings/ShortcutKey.h"

#include <QPushButton>
#include <QWidget>

#include <functional>
#include <optional>

class QKeyEvent;
class QLabel;
class QPlainTextEdit;

namespace vel {

class AppSettings;
class GlassCard;

// A click-to-record control: the next key with its modifiers, or a lone modifier key (told
// apart by side) released with nothing else held, becomes the shortcut. Esc alone cancels.
class ShortcutRecorderView final : public QPushButton {
    Q_OBJECT
public:
    ShortcutRecorderView(std::function<ShortcutKey()> get, std::function<void(const ShortcutKey&)> set,
                         QWidget* parent = nullptr);

    bool isRecording() const { return m_recording; }

signals:
    void recordingChanged(bool recording);

public:
    void startRecording();
    void stopRecording();
    void refresh();

    // The translation the recorder uses: X keysym (or, where the platform gives none, the Qt key)
    // to the program's virtual key code.
    static std::optional<quint16> virtualKeyFor(const QKeyEvent& event);
    static quint64 modifierBitsFor(Qt::KeyboardModifiers modifiers);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::function<ShortcutKey()> m_get;
    std::function<void(const ShortcutKey&)> m_set;
    bool m_recording = false;
};

// The "ショートカット" section.
class ShortcutsView final : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsView(AppSettings& settings, QWidget* parent = nullptr);
    ShortcutRecorderView* startRecorder() const { return m_start; }
    ShortcutRecorderView* cancelRecorder() const { return m_cancel; }
    QPushButton* escButton() const { return m_esc; }
    QPushButton* defaultsButton() const { return m_defaults; }

    // Where the compositor binds the shortcuts (Wayland): the lines for its configuration,
    // built from the stored shortcuts and rebuilt when they change, with a copy button.
    using BindingLines = std::function<QString(const ShortcutKey& start, const ShortcutKey& cancel)>;
    void showDesktopBindings(const QString& compositorName, BindingLines lines);
    QPlainTextEdit* bindingsText() const { return m_bindingsText; }
    QPushButton* copyBindingsButton() const { return m_copyBindings; }

signals:
    // A recorder is capturing: the global shortcuts must let its keys through meanwhile.
    void capturingChanged(bool capturing);

private:
    void refresh();
    AppSettings& m_settings;
    ShortcutRecorderView* m_start;
    ShortcutRecorderView* m_cancel;
    QPushButton* m_esc;
    QPushButton* m_defaults;
    GlassCard* m_bindingsCard = nullptr;
    QLabel* m_bindingsNote = nullptr;
    QPlainTextEdit* m_bindingsText = nullptr;
    QPushButton* m_copyBindings = nullptr;
    BindingLines m_bindingLines;
};

} // namespace vel
