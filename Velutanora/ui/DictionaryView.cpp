#include "ui/DictionaryView.h"

#include "common/TextTrim.h"
#include "settings/AppSettings.h"
#include "ui/GlassCard.h"
#include "ui/Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vel {

namespace {

// Spaces and tabs only: a line break typed into a field is kept.
QString trimSpacesAndTabs(const QString& text)
{
    return trimCodePoints(text, [](char32_t c) { return c == U' ' || c == U'\t' || c == 0x3000; });
}

QLabel* arrow()
{
    auto* label = new QLabel;
    label->setProperty("velutanoraSymbol", QStringLiteral("arrow.right"));
    label->setPixmap(Icons::pixmap(QStringLiteral("arrow.right"), label->palette().color(QPalette::WindowText), 14,
                                   label->devicePixelRatioF()));
    return label;
}

} // namespace

AddDictionaryEntryField::AddDictionaryEntryField(std::function<void(const DictionaryEntry&)> onAdd, QWidget* parent)
    : QWidget(parent), m_onAdd(std::move(onAdd))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_reading = new QLineEdit;
    m_reading->setPlaceholderText(QStringLiteral("読み（例: クロードコード）"));
    m_term = new QLineEdit;
    m_term->setPlaceholderText(QStringLiteral("正しい表記（例: Claude Code）"));
    m_add = new QPushButton(QStringLiteral("追加"));
    row->addWidget(m_reading, 1);
    row->addWidget(arrow());
    row->addWidget(m_term, 1);
    row->addWidget(m_add);
    connect(m_reading, &QLineEdit::textChanged, this, &AddDictionaryEntryField::refresh);
    connect(m_term, &QLineEdit::textChanged, this, &AddDictionaryEntryField::refresh);
    connect(m_add, &QPushButton::clicked, this, &AddDictionaryEntryField::addEntry);
    connect(m_term, &QLineEdit::returnPressed, this, &AddDictionaryEntryField::addEntry);
    refresh();
}

void AddDictionaryEntryField::refresh() { m_add->setEnabled(!m_reading->text().isEmpty() && !m_term->text().isEmpty()); }

void AddDictionaryEntryField::addEntry()
{
    const QString reading = trimSpacesAndTabs(m_reading->text());
    const QString term = trimSpacesAndTabs(m_term->text());
    if (reading.isEmpty() || term.isEmpty())
        return;
    m_onAdd(DictionaryEntry::make(term, reading));
    m_reading->clear();
    m_term->clear();
}

DictionaryView::DictionaryView(AppSettings& settings, QWidget* parent) : QWidget(parent), m_settings(settings)
{
    QVBoxLayout* column = makeScrollingColumn(this);

    auto* card = new GlassCard(8);
    auto* header = new QHBoxLayout;
    header->addWidget(makeHeading(QStringLiteral("固有名詞辞書"), QStringLiteral("book")));
    header->addStretch();
    m_reset = new QPushButton(QStringLiteral("すべて削除"));
    header->addWidget(m_reset);
    card->content()->addLayout(header);
    card->content()->addWidget(makeNote(QStringLiteral("音声認識の読みを正しい表記に自動置換します")));
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(8);
    card->content()->addLayout(m_rows);
    m_add = new AddDictionaryEntryField([this](const DictionaryEntry& entry) {
        QList<DictionaryEntry> entries = m_settings.dictionaryEntries();
        entries.append(entry);
        m_settings.setDictionaryEntries(entries);
    });
    card->content()->addWidget(m_add);
    column->addWidget(card);
    column->addStretch();

    connect(m_reset, &QPushButton::clicked, this, [this] {
        confirmDestructive(this, QStringLiteral("辞書の%1語をすべて削除しますか？ 元には戻せません。").arg(m_settings.dictionaryEntries().size()),
                           QStringLiteral("すべて削除"), [this] { m_settings.setDictionaryEntries(AppSettings::defaultEntries()); });
    });
    connect(&m_settings, &AppSettings::dictionaryEntriesChanged, this, &DictionaryView::refresh);
    refresh();
}

int DictionaryView::rowCount() const { return static_cast<int>(m_removeButtons.size()); }

QPushButton* DictionaryView::removeButton(int index) const { return m_removeButtons.value(index); }

void DictionaryView::refresh()
{
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_removeButtons.clear();
    for (const DictionaryEntry& entry : m_settings.dictionaryEntries()) {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QLabel(entry.reading));
        layout->addWidget(arrow());
        layout->addWidget(new QLabel(entry.term));
        layout->addStretch();
        auto* remove = new QPushButton;
        remove->setFlat(true);
        remove->setIcon(Icons::icon(QStringLiteral("minus.circle.fill"), QColor(0xff, 0x3b, 0x30)));
        remove->setAccessibleName(QStringLiteral("削除"));
        const QUuid id = entry.id;
        connect(remove, &QPushButton::clicked, this, [this, id] {
            QList<DictionaryEntry> entries = m_settings.dictionaryEntries();
            entries.removeIf([&id](const DictionaryEntry& e) { return e.id == id; });
            m_settings.setDictionaryEntries(entries);
        });
        layout->addWidget(remove);
        m_rows->addWidget(row);
        m_removeButtons.append(remove);
    }
    recolorDecorations(this);
}

} // namespace vel
