#include "ui/ContentView.h"

#include "ui/DictionaryView.h"
#include "ui/GeneralSettingsView.h"
#include "ui/GlassCard.h"
#include "ui/HistoryView.h"
#include "ui/Icons.h"
#include "ui/ShortcutsView.h"
#include "ui/UsageView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

namespace vel {

namespace {

constexpr ContentView::Section kSections[] = {ContentView::Section::Settings, ContentView::Section::History,
                                              ContentView::Section::Dictionary, ContentView::Section::Usage,
                                              ContentView::Section::Shortcuts};

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x1e, 0x1e, 0x20);
    const QColor base(0x2c, 0x2c, 0x2e);
    const QColor text(0xf2, 0xf2, 0xf7);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, base);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0xcc, 0x33, 0x1a));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x63, 0x63, 0x66));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x63, 0x63, 0x66));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x63, 0x63, 0x66));
    return p;
}

QPalette lightPalette()
{
    QPalette p;
    const QColor window(0xf2, 0xf2, 0xf7);
    const QColor text(0x1c, 0x1c, 0x1e);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, Qt::white);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0xcc, 0x33, 0x1a));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xae, 0xae, 0xb2));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xae, 0xae, 0xb2));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0xae, 0xae, 0xb2));
    return p;
}

} // namespace

QString ContentView::title(Section section)
{
    switch (section) {
    case Section::Settings: return QStringLiteral("設定");
    case Section::History: return QStringLiteral("履歴");
    case Section::Dictionary: return QStringLiteral("辞書");
    case Section::Usage: return QStringLiteral("利用状況");
    case Section::Shortcuts: return QStringLiteral("ショートカット");
    }
    return {};
}

QString ContentView::symbol(Section section)
{
    switch (section) {
    case Section::Settings: return QStringLiteral("gear");
    case Section::History: return QStringLiteral("clock.arrow.circlepath");
    case Section::Dictionary: return QStringLiteral("book");
    case Section::Usage: return QStringLiteral("chart.bar");
    case Section::Shortcuts: return QStringLiteral("keyboard");
    }
    return {};
}

namespace {
std::optional<bool> g_desktopPrefersDark;
} // namespace

void ContentView::setDesktopPrefersDark(std::optional<bool> dark) { g_desktopPrefersDark = dark; }

QPalette ContentView::paletteFor(AppearanceMode mode)
{
    switch (mode) {
    case AppearanceMode::Light: return lightPalette();
    case AppearanceMode::Dark: return darkPalette();
    case AppearanceMode::System: break;
    }
    if (g_desktopPrefersDark)
        return *g_desktopPrefersDark ? darkPalette() : lightPalette();
    return QApplication::style()->standardPalette();
}

void ContentView::applyAppearance(QWidget* window, AppearanceMode mode)
{
    const QPalette palette = paletteFor(mode);
    // The application's palette: widgets with a style sheet, dialogs, menus and scroll bars take
    // it from there, not from the window.
    QApplication::setPalette(palette);
    window->setPalette(palette);
}

void ContentView::reapplyAppearance() { emit m_settings.appearanceModeChanged(); }

ContentView::ContentView(AppSettings& settings, RecordingHistory& history, UsageTracker& usage, ModelControl* models,
                         QWidget* parent)
    : QWidget(parent), m_settings(settings)
{
    setWindowTitle(QStringLiteral("Velutanora"));
    setMinimumSize(500, 400);
    // At a large scale factor the default size may not fit the screen: it never exceeds it.
    const QSize available = screen() ? screen()->availableGeometry().size() : QSize(760, 560);
    resize(QSize(760, 560).boundedTo(available));
    applyAppearance(this, settings.appearanceMode());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* side = new QWidget;
    side->setFixedWidth(200);
    auto* sideColumn = new QVBoxLayout(side);
    sideColumn->setContentsMargins(0, 0, 0, 0);
    auto* header = new QWidget;
    auto* headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(16, 12, 16, 12);
    auto* name = new QLabel(QStringLiteral("Velutanora"));
    QFont big = name->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    name->setFont(big);
    headerColumn->addWidget(name);
    headerColumn->addWidget(makeNote(QStringLiteral("ヴェルタノーラ — 日本語音声入力")));
    sideColumn->addWidget(header);
    m_sidebar = new QListWidget;
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setStyleSheet(QStringLiteral("QListWidget { background: transparent; outline: 0; } QListWidget::item { padding: 6px; border-radius: 6px; color: palette(window-text); } "
                                             "QListWidget::item:selected { background: rgba(204,51,26,0.16); color: palette(window-text); }"));
    m_sidebar->setIconSize(QSize(18, 18));
    // Reached by Tab, moved with the arrow keys; Ctrl+PgUp/PgDn and Ctrl+1…5 from anywhere.
    m_sidebar->setFocusPolicy(Qt::StrongFocus);
    for (Section s : kSections)
        new QListWidgetItem(Icons::icon(symbol(s), palette().color(QPalette::WindowText)), title(s), m_sidebar);
    sideColumn->addWidget(m_sidebar);
    // Where there is no tray, the window is the way to quit.
    m_quit = new QPushButton(QStringLiteral("Velutanora を終了"));
    m_quit->hide();
    connect(m_quit, &QPushButton::clicked, qApp, &QCoreApplication::quit);
    sideColumn->addWidget(m_quit);
    row->addWidget(side);

    m_stack = new QStackedWidget;
    m_general = new GeneralSettingsView(settings, models);
    m_history = new HistoryView(history);
    m_dictionary = new DictionaryView(settings);
    m_usage = new UsageView(usage);
    m_shortcuts = new ShortcutsView(settings);
    for (QWidget* w : std::initializer_list<QWidget*>{m_general, m_history, m_dictionary, m_usage, m_shortcuts})
        m_stack->addWidget(w);
    row->addWidget(m_stack, 1);

    connect(m_sidebar, &QListWidget::currentRowChanged, m_stack, &QStackedWidget::setCurrentIndex);
    m_sidebar->setCurrentRow(0);
    const int sections = m_sidebar->count();
    for (int i = 0; i < sections; ++i)
        connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)), this), &QShortcut::activated, this,
                [this, i] { m_sidebar->setCurrentRow(i); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown), this), &QShortcut::activated, this,
            [this, sections] { m_sidebar->setCurrentRow((m_sidebar->currentRow() + 1) % sections); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp), this), &QShortcut::activated, this,
            [this, sections] { m_sidebar->setCurrentRow((m_sidebar->currentRow() + sections - 1) % sections); });
    m_sidebar->setFocus();
    auto restyle = [this] {
        applyAppearance(this, m_settings.appearanceMode());
        const QColor text = palette().color(QPalette::WindowText);
        // The keyboard's place is marked: the chosen section is outlined while the list has the focus.
        m_sidebar->setStyleSheet(QStringLiteral("QListWidget { background: transparent; outline: 0; } "
                                                "QListWidget::item { padding: 6px; border-radius: 6px; color: %1; } "
                                                "QListWidget::item:selected { background: rgba(204,51,26,0.16); color: %1; } "
                                                "QListWidget::item:selected:focus { border: 2px solid rgba(204,51,26,0.9); }")
                                     .arg(text.name()));
        for (int i = 0; i < m_sidebar->count(); ++i)
            m_sidebar->item(i)->setIcon(Icons::icon(symbol(kSections[i]), text));
        recolorDecorations(this);
        // A widget with a style sheet resolves its palette when it is polished: again, then.
        for (QWidget* w : findChildren<QWidget*>())
            if (!w->styleSheet().isEmpty()) {
                w->style()->unpolish(w);
                w->style()->polish(w);
            }
        for (SegmentedPicker* picker : findChildren<SegmentedPicker*>())
            picker->restyle();
        for (ShortcutRecorderView* recorder : findChildren<ShortcutRecorderView*>())
            recorder->refresh();
    };
    restyle();
    connect(&settings, &AppSettings::appearanceModeChanged, this, restyle);
}

void ContentView::setQuitVisible(bool visible) { m_quit->setVisible(visible); }

void ContentView::select(Section section) { m_sidebar->setCurrentRow(static_cast<int>(section)); }
ContentView::Section ContentView::selectedSection() const { return static_cast<Section>(m_stack->currentIndex()); }
QWidget* ContentView::sectionWidget(Section section) const { return m_stack->widget(static_cast<int>(section)); }

} // namespace vel
