// The window's own controls: buttons painted over the background with a hover
// face, and a link drawn as underlined text.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

// Draws a face (or an icon) and switches to its second image while the mouse
// is over it or holds it down. The button takes the image's size.
class CIconButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CIconButton(QWidget* parent = nullptr);

    void SetFaces(const QPixmap& normal, const QPixmap& hot);
    void SetTextColor(const QColor& color) { m_textColor = color; update(); }
    // The dotted frame that shows the keyboard focus.
    void SetFocusColor(const QColor& color) { m_focusColor = color; update(); }
    QColor TextColor() const { return m_textColor; }
    // True while the second image is shown; never while disabled.
    bool IsHot() const { return isEnabled() && (m_hover || isDown()); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // A minimised window gets no leave event: the hover ends when it hides.
    void hideEvent(QHideEvent* event) override;

private:
    QPixmap m_normal;
    QPixmap m_hot;
    QColor m_textColor;
    QColor m_focusColor{53, 53, 53};
    bool m_hover = false;
};

// Underlined text in one colour, and in another while the mouse is over it.
class CLinkButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CLinkButton(QWidget* parent = nullptr);

    void SetColors(const QColor& normal, const QColor& hover);
    QColor CurrentColor() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor m_normalColor = Qt::blue;
    QColor m_hoverColor = Qt::red;
    bool m_hover = false;
};

// The font of the main window: Tahoma, 11 pixels.
QFont WindowFont();
// The font of the window's buttons: the window font, bold.
QFont ButtonFont(bool underline = false);

#include <QProxyStyle>

// Shows tooltips after 300 ms instead of the style's usual delay.
class CTipDelayStyle : public QProxyStyle {
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

class QDialog;

// Gives a dialog the frame of one whose size can't change: a title bar with a
// close box and no minimise or maximise button. Call before it is shown; the
// dialog still fixes its own size.
void UseFixedDialogFrame(QDialog* dialog);

// Sets the wait cursor for its lifetime.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// Moves a window when any free spot of it is dragged, as a title bar would;
// for a resizable window without a frame, dragging its edges resizes it, as
// a frame would. It watches the window's own mouse events, which include the
// presses its children let through; the window owns it.
class CWindowDragger : public QObject {
    Q_OBJECT

public:
    // Installs itself on window.
    explicit CWindowDragger(QWidget* window, bool resizable = false);

    // How near an edge, in pixels, a press resizes rather than moves.
    static constexpr int kEdgeWidth = 6;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Qt::Edges EdgesAt(const QPoint& pos) const;
    void ResizeTo(const QPoint& globalPos);

    QWidget* m_window;
    bool m_resizable;
    bool m_dragging = false;
    QPoint m_offset;
    Qt::Edges m_resizing;  // the edges being dragged where the window system leaves that to us
    QRect m_startGeometry;
    QPoint m_startPos;
};
