#include "ui/HistoryModel.h"

#include "settings/RecordingHistory.h"

#include <QDateTime>
#include <QLocale>

namespace vel {

HistoryModel::HistoryModel(RecordingHistory& history, QObject* parent)
    : QAbstractListModel(parent), m_history(history), m_rows(int(history.entries().size()))
{
    connect(&m_history, &RecordingHistory::entryAdded, this, [this] {
        beginInsertRows({}, 0, 0);
        ++m_rows;
        endInsertRows();
    });
    connect(&m_history, &RecordingHistory::entriesChanged, this, [this] {
        beginResetModel();
        m_rows = int(m_history.entries().size());
        endResetModel();
    });
}

int HistoryModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

QVariant HistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || index.row() >= m_history.entries().size())
        return {};
    const RecordingEntry& entry = m_history.entries().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (entry.isUntranscribed())
            return QStringLiteral("（まだ文字になっていない録音です。右クリックの「再試行」で文字にします — %1）").arg(entry.untranscribed);
        return entry.text;
    case Qt::EditRole:
        return entry.text;
    case UntranscribedRole:
        return entry.isUntranscribed();
    case IdRole:
        return entry.id;
    case DateTextRole:
        return dateText(entry.date, QDateTime::currentDateTime());
    default:
        return {};
    }
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable : Qt::NoItemFlags;
}

QString HistoryModel::dateText(double referenceDate, const QDateTime& now)
{
    // Japanese forms whatever the locale: 今日 9:05, 昨日 23:40, 12月9日 1:07.
    const QDateTime when =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixFromReferenceDate(referenceDate) * 1000.0)).toLocalTime();
    const QString time = when.toString(QStringLiteral("H:mm"));
    const qint64 days = when.date().daysTo(now.toLocalTime().date());
    if (days == 0)
        return QStringLiteral("今日 ") + time;
    if (days == 1)
        return QStringLiteral("昨日 ") + time;
    return QStringLiteral("%1月%2日 %3").arg(when.date().month()).arg(when.date().day()).arg(time);
}

} // namespace vel
