#pragma once

#include "dictation/DesktopShortcuts.h"
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
    // Where a lone modifier cannot work, the recorder refuses one and says why.
    void refuseLoneModifiers(QString reason) { m_loneModifierRefusal = std::move(reason); }

signals:
    void recordingChanged(bool recording);
    void refused(const QString& reason);

public:
    void startRecording();
    void stopRecording();
    void refresh();

    // The key the recorder takes: the event's keysym (or, where the platform gives none, the Qt
    // key's); none for a shifted symbol, which a grab of its key never reports.
    static std::optional<quint32> keysymFor(const QKeyEvent& event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::function<ShortcutKey()> m_get;
    std::function<void(const ShortcutKey&)> m_set;
    bool m_recording = false;
    QString m_loneModifierRefusal;
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
    // A button that writes the shown settings into the desktop itself (GNOME, through gsettings),
    // on the user's request; `install` returns what failed, empty on success.
    void setBindingsInstaller(const QString& label, std::function<QString(const ShortcutKey&, const ShortcutKey&)> install);
    QPushButton* installBindingsButton() const { return m_installBindings; }
    // Whether the written shortcut has been seen to reach the program since it was written:
    // GNOME takes a key it cannot grab without a word, so a binding is pending until then.
    void showBindingConfirmed(bool confirmed);

    // Where a desktop service binds the shortcuts: the keys it reports, refreshed by
    // refreshDesktopTriggers(), and its own dialog where it has one.
    void showDesktopShortcuts(const QString& mechanism, std::function<QString(const QString& id)> trigger,
                              std::function<void()> configure);
    void refreshDesktopTriggers();
    // One line per capability of this desktop, with what gives it or what would.
    void showCapabilities(const QList<DesktopCapability>& capabilities);
    void refuseLoneModifiers(const QString& reason);
    // Shortcuts another program holds too, in words (empty: none).
    void showConflicts(const QString& advice);
    QString conflictText() const;
    QLabel* capabilitiesLabel() const { return m_capabilities; }
    QLabel* desktopTriggersLabel() const { return m_desktopTriggers; }
    QLabel* recorderNote() const { return m_recorderNote; }
    QPushButton* copyBindingsButton() const { return m_copyBindings; }

signals:
    // A recorder is capturing: the global shortcuts must let its keys through meanwhile.
    void capturingChanged(bool capturing);

private:
    void refresh();
    AppSettings& m_settings;
    QLabel* m_capabilities = nullptr;
    QLabel* m_conflicts = nullptr;
    QList<QWidget*> m_capabilityRows;
    QPushButton* m_installBindings = nullptr;
    std::function<QString(const ShortcutKey&, const ShortcutKey&)> m_install;
    QWidget* m_capabilityCard = nullptr;
    QList<QPushButton*> m_capabilityActions;
    QLabel* m_desktopTriggers = nullptr;
    QLabel* m_recorderNote = nullptr;
    QPushButton* m_configure = nullptr;
    QString m_desktopMechanism;
    std::function<QString(const QString&)> m_trigger;
    std::function<void()> m_configureDesktop;
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
