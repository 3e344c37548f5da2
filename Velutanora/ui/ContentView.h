#pragma once

#include "settings/AppSettings.h"

#include <QPalette>
#include <QWidget>

#include <optional>

class QListWidget;
class QPushButton;
class QStackedWidget;

namespace vel {

class DictionaryView;
class GeneralSettingsView;
class HistoryView;
class ModelControl;
class RecordingHistory;
class ShortcutsView;
class UsageTracker;
class UsageView;

// The settings window: a sidebar with the program's name and five sections, and the selected
// section to its right. Follows the appearance mode.
class ContentView final : public QWidget {
    Q_OBJECT
public:
    enum class Section { Settings, History, Dictionary, Usage, Shortcuts };

    ContentView(AppSettings& settings, RecordingHistory& history, UsageTracker& usage, ModelControl* models = nullptr,
                QWidget* parent = nullptr);

    static QString title(Section section);
    static QString symbol(Section section);

    void select(Section section);
    // The quit button, for a desktop without a tray.
    void setQuitVisible(bool visible);
    Section selectedSection() const;
    QWidget* sectionWidget(Section section) const;
    QListWidget* sidebar() const { return m_sidebar; }

    GeneralSettingsView* generalView() const { return m_general; }
    HistoryView* historyView() const { return m_history; }
    DictionaryView* dictionaryView() const { return m_dictionary; }
    UsageView* usageView() const { return m_usage; }
    ShortcutsView* shortcutsView() const { return m_shortcuts; }

    // Light, dark, or the desktop's own palette.
    // The palette of the appearance, for the whole application (dialogs, menus, the panel and the
    // file dialog follow it too). System follows the desktop's colour scheme where it says one.
    static void applyAppearance(QWidget* window, AppearanceMode mode);
    static QPalette paletteFor(AppearanceMode mode);
    // What the desktop prefers (the appearance portal's color-scheme): dark, light, or unknown.
    static void setDesktopPrefersDark(std::optional<bool> dark);
    // Applies the appearance again (the desktop's preference changed).
    void reapplyAppearance();

private:
    AppSettings& m_settings;
    QListWidget* m_sidebar;
    QPushButton* m_quit;
    QStackedWidget* m_stack;
    GeneralSettingsView* m_general;
    HistoryView* m_history;
    DictionaryView* m_dictionary;
    UsageView* m_usage;
    ShortcutsView* m_shortcuts;
};

} // namespace vel
