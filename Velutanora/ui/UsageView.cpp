#include "ui/UsageView.h"

#include "settings/UsageTracker.h"
#include "ui/GlassCard.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vel {

namespace {

// A figure over its caption: value (bold, larger), optional sub-value, label.
QWidget* statItem(QLabel*& value, QLabel** subValue, const QString& label)
{
    auto* w = new QWidget;
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    value = new QLabel;
    QFont f = value->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.4);
    value->setFont(f);
    column->addWidget(value);
    if (subValue) {
        *subValue = makeNote(QString());
        column->addWidget(*subValue);
    }
    auto* caption = makeNote(label);
    column->addWidget(caption);
    return w;
}

} // namespace

QString UsageView::formatTokenCount(qint64 n)
{
    if (n >= 1000000)
        return QString::number(static_cast<double>(n) / 1000000.0, 'f', 1) + QLatin1Char('M');
    if (n >= 1000)
        return QString::number(static_cast<double>(n) / 1000.0, 'f', 1) + QLatin1Char('K');
    return QString::number(n);
}

QString UsageView::costText(double dollars) { return QStringLiteral("$") + QString::number(dollars, 'f', 4); }
QString UsageView::yenText(double dollars) { return QStringLiteral("≈ ¥") + QString::number(dollars * 150.0, 'f', 1); }

UsageView::UsageView(UsageTracker& usage, QWidget* parent) : QWidget(parent), m_usage(usage)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    auto* card = new GlassCard(12);
    card->content()->addWidget(makeHeading(QStringLiteral("API 使用量"), QStringLiteral("chart.bar")));
    auto* top = new QHBoxLayout;
    top->setSpacing(20);
    top->addWidget(statItem(m_requests, nullptr, QStringLiteral("リクエスト")));
    top->addWidget(statItem(m_cost, &m_yen, QStringLiteral("推定コスト")));
    top->addStretch();
    m_reset = new QPushButton(QStringLiteral("リセット"));
    top->addWidget(m_reset);
    card->content()->addLayout(top);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    card->content()->addWidget(line);
    auto* tokens = new QHBoxLayout;
    tokens->setSpacing(20);
    const QString labels[] = {QStringLiteral("入力トークン"), QStringLiteral("出力トークン"), QStringLiteral("思考トークン")};
    for (int i = 0; i < 3; ++i)
        tokens->addWidget(statItem(m_tokens[i], nullptr, labels[i]));
    tokens->addStretch();
    card->content()->addLayout(tokens);
    column->addWidget(card);
    column->addStretch();

    connect(m_reset, &QPushButton::clicked, this, [this] {
        confirmDestructive(this, QStringLiteral("利用状況の記録をリセットしますか？ 元には戻せません。"), QStringLiteral("リセット"),
                           [this] { m_usage.reset(); });
    });
    connect(&m_usage, &UsageTracker::countersChanged, this, &UsageView::refresh);
    refresh();
}

void UsageView::refresh()
{
    m_requests->setText(QString::number(m_usage.totalRequests()));
    m_cost->setText(costText(m_usage.estimatedCost()));
    m_yen->setText(yenText(m_usage.estimatedCost()));
    m_tokens[0]->setText(formatTokenCount(m_usage.totalInputTokens()));
    m_tokens[1]->setText(formatTokenCount(m_usage.totalOutputTokens()));
    m_tokens[2]->setText(formatTokenCount(m_usage.totalThinkingTokens()));
}

QString UsageView::requestsText() const { return m_requests->text(); }
QString UsageView::costLabelText() const { return m_cost->text(); }
QString UsageView::yenLabelText() const { return m_yen->text(); }
QString UsageView::tokensText(int which) const { return m_tokens[which]->text(); }

} // namespace vel
