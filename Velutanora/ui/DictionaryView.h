#pragma once

#include "settings/DictionaryEntry.h"

#include <QWidget>

#include <functional>

class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace vel {

class AppSettings;

// The input row of the dictionary: reading → written form, and "追加".
class AddDictionaryEntryField final : public QWidget {
    Q_OBJECT
public:
    explicit AddDictionaryEntryField(std::function<void(const DictionaryEntry&)> onAdd, QWidget* parent = nullptr);
    QLineEdit* readingField() const { return m_reading; }
    QLineEdit* termField() const { return m_term; }
    QPushButton* addButton() const { return m_add; }
    void addEntry();

private:
    void refresh();
    std::function<void(const DictionaryEntry&)> m_onAdd;
    QLineEdit* m_reading;
    QLineEdit* m_term;
    QPushButton* m_add;
};

// The "辞書" section.
class DictionaryView final : public QWidget {
    Q_OBJECT
public:
    explicit DictionaryView(AppSettings& settings, QWidget* parent = nullptr);
    AddDictionaryEntryField* addField() const { return m_add; }
    QPushButton* resetButton() const { return m_reset; }
    // The remove button of the row at `index`.
    QPushButton* removeButton(int index) const;
    int rowCount() const;

private:
    void refresh();
    AppSettings& m_settings;
    QVBoxLayout* m_rows;
    AddDictionaryEntryField* m_add;
    QPushButton* m_reset;
    QList<QPushButton*> m_removeButtons;
};

} // namespace vel
