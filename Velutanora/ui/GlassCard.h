#pragma once

#include <QFrame>

#include <functional>
#include <QLabel>
#include <QStringList>

class QButtonGroup;
class QVBoxLayout;

namespace vel {

// The card every section groups its controls in: a translucent rounded rectangle ("glass")
// over the window, padded 16 points.
class GlassCard final : public QFrame {
    Q_OBJECT
public:
    explicit GlassCard(int spacing = 8, QWidget* parent = nullptr);
    QVBoxLayout* content() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QVBoxLayout* m_layout;
};

// Fills `owner` with a scrolling column padded 20 points, cards 16 points apart; returns the column.
QVBoxLayout* makeScrollingColumn(QWidget* owner);

// A label with a symbol in the headline font.
QWidget* makeHeading(const QString& text, const QString& symbol, QWidget* parent = nullptr);
// A line of caption text in the secondary colour.
QLabel* makeNote(const QString& text, QWidget* parent = nullptr);
// Asks before an action that cannot be undone: a question over the window, the safe answer
// focused (Space or Enter keeps everything); `confirmed` runs only on the named action.
void confirmDestructive(QWidget* parent, const QString& question, const QString& action, std::function<void()> confirmed);
// Gives the notes and heading symbols under `root` the colours of its current palette (after an
// appearance change, or once they have been placed in the window).
void recolorDecorations(QWidget* root);

// A segmented picker: one checkable segment per choice, exactly one checked. One tab stop: the
// arrow keys choose within it, and the chosen segment is outlined while it has the focus.
class SegmentedPicker final : public QWidget {
    Q_OBJECT
public:
    SegmentedPicker(const QString& label, const QStringList& segments, QWidget* parent = nullptr);
    int currentIndex() const;
    void setCurrentIndex(int index);
    QString segmentText(int index) const;
    void setSegmentText(int index, const QString& text);
    void clickSegment(int index);

    // A style sheet resolves its colours once: the window calls this when its appearance changes.
    void restyle();

signals:
    void currentIndexChanged(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void markFocus();
    QButtonGroup* m_group;
};

} // namespace vel
