#pragma once

#include <QUuid>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QListView;
class QSortFilterProxyModel;
class QPushButton;
class QStackedWidget;

namespace vel {

class HistoryModel;
class RecordingHistory;

// The "履歴" section: the results of the last seven days, newest first. Rows show the start of
// each text; opening a row (double click, F2) shows all of it to select and copy any part;
// the copy command copies the selected entries whole.
class HistoryView final : public QWidget {
    Q_OBJECT
public:
    explicit HistoryView(RecordingHistory& history, QWidget* parent = nullptr);

    static QString countText(qsizetype count);
    bool isShowingEmptyState() const;
    QString headerText() const;
    QPushButton* clearButton() const { return m_clear; }
    QListView* list() const { return m_list; }
    QLineEdit* searchField() const { return m_search; }
    // Deletes the selected rows (the list's delete command).
    void deleteSelected();
    // Tries the selected kept recordings again (set by the program; unset, the action stays off).
    std::function<void(const QUuid& entry)> onRetry;
    void retrySelected();
    void copySelected() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    RecordingHistory& m_history;
    QStackedWidget* m_stack;
    QLabel* m_count;
    QPushButton* m_clear;
    QLineEdit* m_search;
    QSortFilterProxyModel* m_filter;
    HistoryModel* m_model;
    QListView* m_list;
};

} // namespace vel
