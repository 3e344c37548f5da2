#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

namespace vel {

class RecordingHistory;

// The "履歴" section: the results of the last seven days, newest first, selectable to copy.
class HistoryView final : public QWidget {
    Q_OBJECT
public:
    explicit HistoryView(RecordingHistory& history, QWidget* parent = nullptr);

    static QString countText(qsizetype count);
    bool isShowingEmptyState() const;
    QString headerText() const;
    QPushButton* clearButton() const { return m_clear; }
    QListWidget* list() const { return m_list; }
    // Deletes the selected rows (the list's delete command).
    void deleteSelected();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();
    RecordingHistory& m_history;
    QStackedWidget* m_stack;
    QLabel* m_count;
    QPushButton* m_clear;
    QListWidget* m_list;
};

} // namespace vel
