#pragma once

#include <QAbstractListModel>
#include <QDateTime>

namespace vel {

class RecordingHistory;

// The history as list rows, newest first. A dictation inserts one row; only other changes
// reset the list, so a long history costs nothing until its rows are painted.
class HistoryModel final : public QAbstractListModel {
    Q_OBJECT
public:
    // UntranscribedRole: a kept recording without words yet; IdRole: the entry's id.
    enum Role { DateTextRole = Qt::UserRole + 1, UntranscribedRole, IdRole };

    explicit HistoryModel(RecordingHistory& history, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // "Editable" only opens a row to show its whole text; nothing is written back.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The entry's date as the list shows it: abbreviated month, day, hour and minute.
    static QString dateText(double referenceDate, const QDateTime& now);

private:
    RecordingHistory& m_history;
    int m_rows = 0; // what the views were told, so rowCount never runs ahead of a notification
};

} // namespace vel
