#include "ui/HistoryView.h"

#include "settings/RecordingHistory.h"
#include "ui/GlassCard.h"
#include "ui/HistoryModel.h"
#include "ui/Icons.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QVBoxLayout>

namespace vel {

namespace {

constexpr int kTextLines = 3; // rows all have one height, so the list never measures every entry
constexpr int kPadding = 6;

// A row: the first lines of the text, the last one elided, and below them the date with a clock.
class HistoryRowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QFont captionFont(QFont f)
    {
        f.setPointSizeF(f.pointSizeF() * 0.85);
        return f;
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        const int height = kPadding + QFontMetrics(option.font).lineSpacing() * kTextLines + 4
                           + QFontMetrics(captionFont(option.font)).lineSpacing() + kPadding;
        return {1, height}; // rows take the list's width; the text wraps into it
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& base, const QModelIndex& index) const override
    {
        QStyleOptionViewItem option(base);
        initStyleOption(&option, index);
        const QString text = option.text;
        option.text.clear();
        QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &option, painter, option.widget);

        const bool selected = option.state & QStyle::State_Selected;
        const QColor ink = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QRect area = option.rect.adjusted(4, kPadding, -4, -kPadding);
        painter->save();
        painter->setPen(ink);
        const QFontMetrics metrics(option.font);
        QString shown = text;
        shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
        QTextLayout layout(shown, option.font);
        QTextOption wrap;
        wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(wrap);
        // One line past what is shown tells whether the last shown one must end in an ellipsis.
        layout.beginLayout();
        QList<QTextLine> lines;
        while (lines.size() <= kTextLines) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(area.width());
            lines << line;
        }
        layout.endLayout();
        int y = area.top();
        for (qsizetype n = 0; n < std::min<qsizetype>(lines.size(), kTextLines); ++n) {
            const bool cut = n == kTextLines - 1 && lines.size() > kTextLines;
            QString part = cut ? shown.mid(lines[n].textStart()) : shown.mid(lines[n].textStart(), lines[n].textLength());
            if (cut)
                part = metrics.elidedText(part.replace(QChar::LineSeparator, QLatin1Char(' ')), Qt::ElideRight, area.width());
            painter->drawText(QPoint(area.left(), y + metrics.ascent()), part.remove(QChar::LineSeparator));
            y += metrics.lineSpacing();
        }

        QColor secondary = ink;
        secondary.setAlphaF(0.6f);
        const QFont caption = captionFont(option.font);
        const QFontMetrics captionMetrics(caption);
        const int dateTop = area.top() + metrics.lineSpacing() * kTextLines + 4;
        const int icon = captionMetrics.height();
        painter->drawPixmap(QRect(area.left(), dateTop, icon, icon),
                            Icons::pixmap(QStringLiteral("clock"), secondary, icon, painter->device()->devicePixelRatioF()));
        painter->setFont(caption);
        painter->setPen(secondary);
        painter->drawText(QPoint(area.left() + icon + 4, dateTop + captionMetrics.ascent()),
                          index.data(HistoryModel::DateTextRole).toString());
        painter->restore();
    }

    // The whole text, read-only, where any part can be selected and copied.
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        auto* editor = new QPlainTextEdit(parent);
        editor->setReadOnly(true);
        editor->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        static_cast<QPlainTextEdit*>(editor)->setPlainText(index.data(Qt::EditRole).toString());
    }

    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        auto* text = static_cast<QPlainTextEdit*>(editor);
        const QWidget* viewport = editor->parentWidget();
        const int lines = int(text->document()->size().height()) + 1;
        const int wanted = QFontMetrics(option.font).lineSpacing() * std::max(lines, kTextLines) + 2 * kPadding;
        const int bottom = viewport ? viewport->height() : option.rect.bottom();
        QRect rect = option.rect;
        rect.setHeight(std::max(option.rect.height(), std::min(wanted, bottom - rect.top())));
        editor->setGeometry(rect);
    }
};

} // namespace

QString HistoryView::countText(qsizetype count) { return QString::number(count) + QStringLiteral("件の記録"); }

HistoryView::HistoryView(RecordingHistory& history, QWidget* parent) : QWidget(parent), m_history(history)
{
    m_stack = new QStackedWidget(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_stack);

    auto* empty = new QWidget;
    auto* emptyColumn = new QVBoxLayout(empty);
    emptyColumn->setSpacing(8);
    emptyColumn->addStretch();
    // Drawn in the window's text colour, half strong, whenever the appearance changes.
    auto* icon = new QLabel;
    icon->setProperty("velutanoraSymbol", QStringLiteral("clock.arrow.circlepath"));
    icon->setProperty("velutanoraSymbolSize", 40);
    icon->setProperty("velutanoraSymbolAlpha", 0.5);
    recolorDecorations(icon);
    icon->setAlignment(Qt::AlignCenter);
    emptyColumn->addWidget(icon);
    auto* none = new QLabel(QStringLiteral("まだ履歴がありません"));
    none->setAlignment(Qt::AlignCenter);
    emptyColumn->addWidget(none);
    auto* note = makeNote(QStringLiteral("録音結果は自動的に保存されます"));
    note->setAlignment(Qt::AlignCenter);
    emptyColumn->addWidget(note);
    emptyColumn->addStretch();
    m_stack->addWidget(empty);

    auto* full = new QWidget;
    auto* column = new QVBoxLayout(full);
    column->setContentsMargins(20, 20, 20, 20);
    auto* header = new QHBoxLayout;
    m_count = new QLabel;
    header->addWidget(m_count);
    header->addStretch();
    m_clear = new QPushButton(QStringLiteral("全件削除"));
    m_clear->setAutoDefault(false);
    // Red text through the palette, not a style sheet: the button's own colours then follow the
    // appearance when it changes.
    QPalette red = m_clear->palette();
    red.setColor(QPalette::ButtonText, QColor(0xff, 0x3b, 0x30));
    m_clear->setPalette(red);
    header->addWidget(m_clear);
    column->addLayout(header);
    // A search over the texts, from the top of the section.
    m_search = new QLineEdit;
    m_search->setPlaceholderText(QStringLiteral("履歴を検索"));
    m_search->setClearButtonEnabled(true);
    column->addWidget(m_search);
    m_model = new HistoryModel(m_history, this);
    m_filter = new QSortFilterProxyModel(this);
    m_filter->setSourceModel(m_model);
    m_filter->setFilterRole(Qt::EditRole);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    connect(m_search, &QLineEdit::textChanged, m_filter, &QSortFilterProxyModel::setFilterFixedString);
    m_list = new QListView;
    m_list->setModel(m_filter);
    m_list->setItemDelegate(new HistoryRowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setFrameShape(QFrame::NoFrame);
    // Transparent through the palette: a style sheet would keep the colours of the appearance
    // it was polished in.
    QPalette clear = m_list->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    m_list->setPalette(clear);
    m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
    column->addWidget(m_list);
    // On the list itself, not its open row: there the keys select and copy within the text.
    auto* copy = new QAction(QStringLiteral("コピー"), m_list);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &HistoryView::copySelected);
    auto* remove = new QAction(QStringLiteral("削除"), m_list);
    remove->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this, &HistoryView::deleteSelected);
    auto* retry = new QAction(QStringLiteral("再試行"), m_list);
    connect(retry, &QAction::triggered, this, &HistoryView::retrySelected);
    m_list->addActions({copy, remove, retry});
    m_stack->addWidget(full);

    connect(m_clear, &QPushButton::clicked, this, [this] {
        confirmDestructive(this, QStringLiteral("履歴の%1件をすべて削除しますか？ 元には戻せません。").arg(m_history.entries().size()),
                           QStringLiteral("すべて削除"), [this] { m_history.clear(); });
    });
    connect(&m_history, &RecordingHistory::entriesChanged, this, &HistoryView::refresh);
    connect(&m_history, &RecordingHistory::entryAdded, this, &HistoryView::refresh);
    refresh();
}

bool HistoryView::isShowingEmptyState() const { return m_stack->currentIndex() == 0; }
QString HistoryView::headerText() const { return m_count->text(); }

void HistoryView::showEvent(QShowEvent* event)
{
    m_history.purgeExpired();
    QWidget::showEvent(event);
}

void HistoryView::deleteSelected()
{
    QSet<int> rows;
    for (const QModelIndex& index : m_list->selectionModel()->selectedIndexes())
        rows.insert(m_filter->mapToSource(index).row());
    if (rows.isEmpty())
        return;
    confirmDestructive(this, QStringLiteral("選んだ%1件を履歴から削除しますか？ 元には戻せません。").arg(rows.size()),
                       QStringLiteral("削除"), [this, rows] { m_history.deleteAtOffsets(rows); });
}

void HistoryView::retrySelected()
{
    if (!onRetry)
        return;
    for (const QModelIndex& index : m_list->selectionModel()->selectedIndexes())
        if (index.data(HistoryModel::UntranscribedRole).toBool())
            onRetry(index.data(HistoryModel::IdRole).toUuid());
}

void HistoryView::copySelected() const
{
    QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    std::sort(selected.begin(), selected.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList texts;
    for (const QModelIndex& index : selected)
        texts << index.data(Qt::EditRole).toString();
    if (!texts.isEmpty())
        QGuiApplication::clipboard()->setText(texts.join(QLatin1Char('\n')));
}

void HistoryView::refresh()
{
    const qsizetype count = m_history.entries().size();
    m_stack->setCurrentIndex(count == 0 ? 0 : 1);
    m_count->setText(countText(count));
}

} // namespace vel
