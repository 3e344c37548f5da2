#pragma once

#include <QWidget>

namespace vel {

// The floating panel: frameless, translucent, above other windows, never taking the focus
// (typing stays with the application the text goes to). Dragging its background moves it.
class RecordingPanel final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal fade READ fade WRITE setFade)
public:
    static constexpr int kWidth = 280;
    static constexpr int kHeight = 80;
    // Its distance above the bottom of the screen's available area.
    static constexpr int kBottomMargin = 80;

    explicit RecordingPanel(QWidget* content);

    // Bottom centre of the primary screen, 80 points above its available area's bottom edge.
    void placeOnScreen();

    // How opaque the panel is while it fades in and out. A window of its own takes it as its
    // window opacity; a panel drawn onto another surface (a Wayland layer surface, where the
    // platform has no window opacity and says so on every call) is painted with it.
    qreal fade() const { return m_fade; }
    void setFade(qreal fade);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint m_dragOffset;
    bool m_dragging = false;
    qreal m_fade = 1.0;
};

} // namespace vel
