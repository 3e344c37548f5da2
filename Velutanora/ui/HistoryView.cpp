#include "ui/HistoryView.h"

#include "settings/RecordingHistory.h"
#include "ui/GlassCard.h"
#include "ui/Icons.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace vel {

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
    auto* icon = new QLabel;
    QColor secondary = palette().color(QPalette::WindowText);
    secondary.setAlphaF(0.5f);
    icon->setPixmap(Icons::pixmap(QStringLiteral("clock.arrow.circlepath"), secondary, 40, devicePixelRatioF()));
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
    m_clear->setStyleSheet(QStringLiteral("QPushButton { color: #ff3b30; }"));
    header->addWidget(m_clear);
    column->addLayout(header);
    m_list = new QListWidget;
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(m_list);
    m_stack->addWidget(full);

    connect(m_clear, &QPushButton::clicked, this, [this] { m_history.clear(); });
    connect(m_list, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!m_list->itemAt(at))
            return;
        QMenu menu;
        menu.addAction(QStringLiteral("削除"), this, &HistoryView::deleteSelected);
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
    connect(&m_history, &RecordingHistory::entriesChanged, this, &HistoryView::refresh);
    refresh();
}

bool HistoryView::isShowingEmptyState() const { return m_stack->currentIndex() == 0; }
QString HistoryView::headerText() const { return m_count->text(); }

void HistoryView::showEvent(QShowEvent* event)
{
    m_history.purgeExpired();
    QWidget::showEvent(event);
}

void HistoryView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Delete) || event->key() == Qt::Key_Backspace) {
        deleteSelected();
        return;
    }
    QWidget::keyPressEvent(event);
}

void HistoryView::deleteSelected()
{
    QSet<int> rows;
    for (QListWidgetItem* item : m_list->selectedItems())
        rows.insert(m_list->row(item));
    if (!rows.isEmpty())
        m_history.deleteAtOffsets(rows);
}

void HistoryView::refresh()
{
    const QList<RecordingEntry>& entries = m_history.entries();
    m_stack->setCurrentIndex(entries.isEmpty() ? 0 : 1);
    m_count->setText(countText(entries.size()));
    m_list->clear();
    const QLocale locale;
    for (const RecordingEntry& entry : entries) {
        auto* item = new QListWidgetItem(m_list);
        auto* row = new QWidget;
        auto* layout = new QVBoxLayout(row);
        layout->setContentsMargins(4, 6, 4, 6);
        auto* text = new QLabel(entry.text);
        text->setWordWrap(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        layout->addWidget(text);
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(
            static_cast<qint64>(unixFromReferenceDate(entry.date) * 1000.0)).toLocalTime();
        auto* date = makeNote(locale.toString(when, QStringLiteral("MMM d h:mm AP")).trimmed());
        layout->addWidget(date);
        item->setSizeHint(row->sizeHint());
        m_list->setItemWidget(item, row);
    }
    recolorDecorations(this);
}

} // namespace vel
