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

void ContentView::applyAppearance(QWidget* window, AppearanceMode mode)
{
    switch (mode) {
    case AppearanceMode::Light: window->setPalette(lightPalette()); break;
    case AppearanceMode::Dark: window->setPalette(darkPalette()); break;
    case AppearanceMode::System: window->setPalette(QApplication::style()->standardPalette()); break;
    }
}

ContentView::ContentView(AppSettings& settings, RecordingHistory& history, UsageTracker& usage, ModelControl* models,
                         QWidget* parent)
    : QWidget(parent), m_settings(settings)
{
    setWindowTitle(QStringLiteral("Velutanora"));
    setMinimumSize(500, 400);
    resize(760, 560);
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
    m_sidebar->setFocusPolicy(Qt::NoFocus);
    for (Section s : kSections)
        new QListWidgetItem(Icons::icon(symbol(s), palette().color(QPalette::WindowText)), title(s), m_sidebar);
    sideColumn->addWidget(m_sidebar);
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
    auto restyle = [this] {
        applyAppearance(this, m_settings.appearanceMode());
        const QColor text = palette().color(QPalette::WindowText);
        m_sidebar->setStyleSheet(QStringLiteral("QListWidget { background: transparent; outline: 0; } "
                                                "QListWidget::item { padding: 6px; border-radius: 6px; color: %1; } "
                                                "QListWidget::item:selected { background: rgba(204,51,26,0.16); color: %1; }")
                                     .arg(text.name()));
        for (int i = 0; i < m_sidebar->count(); ++i)
            m_sidebar->item(i)->setIcon(Icons::icon(symbol(kSections[i]), text));
        recolorDecorations(this);
        for (SegmentedPicker* picker : findChildren<SegmentedPicker*>())
            picker->restyle();
        for (ShortcutRecorderView* recorder : findChildren<ShortcutRecorderView*>())
            recorder->refresh();
    };
    restyle();
    connect(&settings, &AppSettings::appearanceModeChanged, this, restyle);
}

void ContentView::select(Section section) { m_sidebar->setCurrentRow(static_cast<int>(section)); }
ContentView::Section ContentView::selectedSection() const { return static_cast<Section>(m_stack->currentIndex()); }
QWidget* ContentView::sectionWidget(Section section) const { return m_stack->widget(static_cast<int>(section)); }

} // namespace vel
