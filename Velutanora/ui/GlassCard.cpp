#include "ui/GlassCard.h"

#include "ui/Icons.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QKeyEvent>
#include <QMessageBox>
#include <QStyle>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vel {

GlassCard::GlassCard(int spacing, QWidget* parent) : QFrame(parent), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(16, 16, 16, 16);
    m_layout->setSpacing(spacing);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
}

void GlassCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
    p.fillPath(path, dark ? QColor(255, 255, 255, 20) : QColor(255, 255, 255, 150));
    p.setPen(QPen(dark ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 20), 1));
    p.drawPath(path);
}

QVBoxLayout* makeScrollingColumn(QWidget* owner)
{
    auto* scroll = new QScrollArea(owner);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    scroll->setWidget(page);
    auto* outer = new QVBoxLayout(owner);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    return column;
}

QWidget* makeHeading(const QString& text, const QString& symbol, QWidget* parent)
{
    auto* w = new QWidget(parent);
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* icon = new QLabel(w);
    icon->setProperty("velutanoraSymbol", symbol);
    icon->setPixmap(Icons::pixmap(symbol, w->palette().color(QPalette::WindowText), 16, w->devicePixelRatioF()));
    auto* label = new QLabel(text, w);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    row->addWidget(icon);
    row->addWidget(label);
    row->addStretch();
    w->setObjectName(QStringLiteral("heading:") + text);
    return w;
}

QLabel* makeNote(const QString& text, QWidget* parent)
{
    auto* note = new QLabel(text, parent);
    note->setWordWrap(true);
    QFont f = note->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    note->setFont(f);
    note->setProperty("velutanoraNote", true);
    recolorDecorations(note);
    return note;
}

void recolorDecorations(QWidget* root)
{
    QList<QLabel*> labels = root->findChildren<QLabel*>();
    if (auto* self = qobject_cast<QLabel*>(root))
        labels.append(self);
    for (QLabel* label : labels) {
        const QColor text = (label->parentWidget() ? label->parentWidget() : label)->palette().color(QPalette::WindowText);
        if (label->property("velutanoraNote").toBool()) {
            QColor c = text;
            c.setAlphaF(0.6f);
            label->setStyleSheet(QStringLiteral("color: rgba(%1, %2, %3, 0.6);").arg(c.red()).arg(c.green()).arg(c.blue()));
        }
        const QString symbol = label->property("velutanoraSymbol").toString();
        if (!symbol.isEmpty()) {
            QColor tint = text;
            tint.setAlphaF(label->property("velutanoraSymbolAlpha").isValid() ? label->property("velutanoraSymbolAlpha").toFloat() : 1.0f);
            const int size = label->property("velutanoraSymbolSize").isValid() ? label->property("velutanoraSymbolSize").toInt() : 16;
            label->setPixmap(Icons::pixmap(symbol, tint, size, label->devicePixelRatioF()));
        }
    }
}

void confirmDestructive(QWidget* parent, const QString& question, const QString& action, std::function<void()> confirmed)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Velutanora"), question, QMessageBox::NoButton, parent);
    QPushButton* act = box->addButton(action, QMessageBox::DestructiveRole);
    QPushButton* keep = box->addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [act, confirmed](QAbstractButton* clicked) {
        if (clicked == act && confirmed)
            confirmed();
    });
    box->open();
    keep->setFocus();
}

SegmentedPicker::SegmentedPicker(const QString& label, const QStringList& segments, QWidget* parent)
    : QWidget(parent), m_group(new QButtonGroup(this))
{
    setAccessibleName(label);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int i = 0; i < segments.size(); ++i) {
        auto* b = new QPushButton(segments.at(i), this);
        b->setCheckable(true);
        b->setFocusPolicy(Qt::NoFocus);
        m_group->addButton(b, i);
        row->addWidget(b);
    }
    m_group->setExclusive(true);
    setFocusPolicy(Qt::StrongFocus);
    restyle();
    connect(m_group, &QButtonGroup::idClicked, this, &SegmentedPicker::currentIndexChanged);
    connect(m_group, &QButtonGroup::idToggled, this, &SegmentedPicker::markFocus);
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event)
{
    const int last = static_cast<int>(m_group->buttons().size()) - 1;
    int index = currentIndex();
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Up)
        index = std::max(0, index - 1);
    else if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Down)
        index = std::min(last, index + 1);
    else
        return QWidget::keyPressEvent(event);
    if (index != currentIndex())
        clickSegment(index);
}

void SegmentedPicker::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    markFocus();
}

void SegmentedPicker::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    markFocus();
}

void SegmentedPicker::markFocus()
{
    for (QAbstractButton* b : m_group->buttons()) {
        const bool marked = hasFocus() && b->isChecked();
        if (b->property("pickerFocus").toBool() == marked)
            continue;
        b->setProperty("pickerFocus", marked);
        b->style()->unpolish(b);
        b->style()->polish(b);
    }
}

void SegmentedPicker::restyle()
{
    const QString sheet = QStringLiteral("QPushButton { padding: 4px 10px; border: 1px solid rgba(128,128,128,0.35); "
                                         "background: transparent; color: %1; } "
                                         "QPushButton:checked { background: rgba(204,51,26,0.85); color: white; "
                                         "border-color: rgba(204,51,26,0.85); } "
                                         "QPushButton[pickerFocus=\"true\"] { border: 2px solid %1; }")
                              .arg(window()->palette().color(QPalette::ButtonText).name());
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
}

int SegmentedPicker::currentIndex() const { return m_group->checkedId(); }

void SegmentedPicker::setCurrentIndex(int index)
{
    if (QAbstractButton* b = m_group->button(index))
        b->setChecked(true);
}

QString SegmentedPicker::segmentText(int index) const
{
    QAbstractButton* b = m_group->button(index);
    return b ? b->text() : QString();
}

void SegmentedPicker::setSegmentText(int index, const QString& text)
{
    if (QAbstractButton* b = m_group->button(index))
        b->setText(text);
}

void SegmentedPicker::clickSegment(int index)
{
    if (QAbstractButton* b = m_group->button(index))
        b->click();
}

} // namespace vel
