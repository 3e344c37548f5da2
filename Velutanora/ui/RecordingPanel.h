#pragma once

#include <QWidget>

namespace vel {

// The floating panel: frameless, translucent, above other windows, never taking the focus
// (typing stays with the application the text goes to). Dragging its background moves it.
class RecordingPanel final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 280;
    static constexpr int kHeight = 80;
    // Its distance above the bottom of the screen's available area.
    static constexpr int kBottomMargin = 80;

    explicit RecordingPanel(QWidget* content);

    // Bottom centre of the primary screen, 80 points above its available area's bottom edge.
    void placeOnScreen();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint m_dragOffset;
    bool m_dragging = false;
};

} // namespace vel
