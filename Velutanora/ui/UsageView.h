#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace vel {

class UsageTracker;

// The "利用状況" section: the Gemini usage counters and an estimated cost.
class UsageView final : public QWidget {
    Q_OBJECT
public:
    explicit UsageView(UsageTracker& usage, QWidget* parent = nullptr);

    // 999, 1.0K, 12.3K, 2.5M.
    static QString formatTokenCount(qint64 n);
    static QString costText(double dollars);
    static QString yenText(double dollars);

    QString requestsText() const;
    QString costLabelText() const;
    QString yenLabelText() const;
    QString tokensText(int which) const; // 0 input, 1 output, 2 thinking
    QPushButton* resetButton() const { return m_reset; }

private:
    void refresh();
    UsageTracker& m_usage;
    QLabel* m_requests;
    QLabel* m_cost;
    QLabel* m_yen;
    QLabel* m_tokens[3];
    QPushButton* m_reset;
};

} // namespace vel
