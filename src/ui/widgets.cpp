#include "ui/widgets.h"

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>

QFont WindowFont()
{
    QFont font;
    // Tahoma where it is installed, else a face of similar width.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed")});
    font.setPixelSize(11);
    return font;
}

QFont ButtonFont(bool underline)
{
    QFont font = WindowFont();
    font.setWeight(QFont::Bold);
    font.setUnderline(underline);
    return font;
}

CIconButton::CIconButton(QWidget* parent) : QAbstractButton(parent), m_textColor(53, 53, 53)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFont(ButtonFont());
    setAttribute(Qt::WA_Hover);
}

void CIconButton::SetFaces(const QPixmap& normal, const QPixmap& hot)
{
    m_normal = normal;
    m_hot = hot;
    resize(normal.size());
    update();
}

QSize CIconButton::sizeHint() const
{
    return m_normal.isNull() ? QSize(20, 20) : m_normal.size();
}

void CIconButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPixmap& face = IsHot() && !m_hot.isNull() ? m_hot : m_normal;
    // Disabled, as while a long operation runs: faded face, grey text.
    if (!isEnabled())
        p.setOpacity(0.55);
    p.drawPixmap(0, 0, face);
    p.setOpacity(1.0);
    if (!text().isEmpty()) {
        p.setFont(font());
        p.setPen(isEnabled() ? m_textColor : QColor(150, 150, 150));
        const QRect area = rect().translated(isDown() ? QPoint(1, 1) : QPoint());
        p.drawText(area, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
    if (hasFocus()) {
        p.setPen(QPen(m_focusColor, 1, Qt::DotLine));
        p.drawRect(rect().adjusted(3, 3, -4, -4));
    }
}

void CIconButton::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CIconButton::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CIconButton::hideEvent(QHideEvent* event)
{
    m_hover = false;
    QAbstractButton::hideEvent(event);
}

CLinkButton::CLinkButton(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFont(ButtonFont(true));
    setAttribute(Qt::WA_Hover);
}

void CLinkButton::SetColors(const QColor& normal, const QColor& hover)
{
    m_normalColor = normal;
    m_hoverColor = hover;
    update();
}

QColor CLinkButton::CurrentColor() const
{
    if (!isEnabled())
        return QColor(150, 150, 150);
    return m_hover ? m_hoverColor : m_normalColor;
}

QSize CLinkButton::sizeHint() const
{
    return fontMetrics().size(Qt::TextSingleLine, text()) + QSize(6, 4);
}

void CLinkButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(font());
    p.setPen(CurrentColor());
    p.drawText(rect().adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    // Reached with Tab, it shows where the keyboard is.
    if (hasFocus()) {
        p.setPen(QPen(CurrentColor(), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CLinkButton::hideEvent(QHideEvent* event)
{
    m_hover = false;
    QAbstractButton::hideEvent(event);
}

void CLinkButton::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CLinkButton::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

int CTipDelayStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                              QStyleHintReturn* returnData) const
{
    if (hint == QStyle::SH_ToolTip_WakeUpDelay)
        return 300;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void UseFixedDialogFrame(QDialog* dialog)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

CWaitCursor::CWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

CWaitCursor::~CWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

CWindowDragger::CWindowDragger(QWidget* window, bool resizable)
    : QObject(window), m_window(window), m_resizable(resizable)
{
    window->installEventFilter(this);
    // The cursor tells where an edge can be taken.
    if (resizable)
        window->setMouseTracking(true);
}

Qt::Edges CWindowDragger::EdgesAt(const QPoint& pos) const
{
    Qt::Edges edges;
    if (!m_resizable || m_window->isMaximized() || m_window->isFullScreen())
        return edges;
    const QRect area = m_window->rect();
    if (pos.x() < kEdgeWidth)
        edges |= Qt::LeftEdge;
    else if (pos.x() >= area.width() - kEdgeWidth)
        edges |= Qt::RightEdge;
    if (pos.y() < kEdgeWidth)
        edges |= Qt::TopEdge;
    else if (pos.y() >= area.height() - kEdgeWidth)
        edges |= Qt::BottomEdge;
    return edges;
}

void CWindowDragger::ResizeTo(const QPoint& globalPos)
{
    const QPoint moved = globalPos - m_startPos;
    const QSize least = m_window->minimumSize().expandedTo(QSize(1, 1));
    const QSize most = m_window->maximumSize();
    QRect to = m_startGeometry;
    if (m_resizing & Qt::LeftEdge)
        to.setLeft(std::clamp(to.left() + moved.x(), to.right() + 1 - most.width(), to.right() + 1 - least.width()));
    if (m_resizing & Qt::RightEdge)
        to.setWidth(std::clamp(to.width() + moved.x(), least.width(), most.width()));
    if (m_resizing & Qt::TopEdge)
        to.setTop(std::clamp(to.top() + moved.y(), to.bottom() + 1 - most.height(), to.bottom() + 1 - least.height()));
    if (m_resizing & Qt::BottomEdge)
        to.setHeight(std::clamp(to.height() + moved.y(), least.height(), most.height()));
    m_window->setGeometry(to);
}

bool CWindowDragger::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        mouse->accept();
        // The window system moves and resizes the window where it can;
        // elsewhere follow the mouse.
        QWindow* handle = m_window->windowHandle();
        if (const Qt::Edges edges = EdgesAt(mouse->position().toPoint())) {
            if (!(handle && handle->startSystemResize(edges))) {
                m_resizing = edges;
                m_startGeometry = m_window->geometry();
                m_startPos = mouse->globalPosition().toPoint();
            }
            return true;
        }
        if (!(handle && handle->startSystemMove())) {
            m_dragging = true;
            m_offset = mouse->globalPosition().toPoint() - m_window->frameGeometry().topLeft();
        }
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!(mouse->buttons() & Qt::LeftButton)) {
            if (m_resizable) {
                const Qt::Edges edges = EdgesAt(mouse->position().toPoint());
                const bool diagonal = (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
                if (diagonal)
                    m_window->setCursor(edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge)
                                            ? Qt::SizeFDiagCursor
                                            : Qt::SizeBDiagCursor);
                else if (edges & (Qt::LeftEdge | Qt::RightEdge))
                    m_window->setCursor(Qt::SizeHorCursor);
                else if (edges)
                    m_window->setCursor(Qt::SizeVerCursor);
                else
                    m_window->unsetCursor();
            }
            return false;
        }
        if (m_resizing) {
            ResizeTo(mouse->globalPosition().toPoint());
            mouse->accept();
            return true;
        }
        if (!m_dragging)
            return false;
        m_window->move(mouse->globalPosition().toPoint() - m_offset);
        mouse->accept();
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        m_resizing = {};
        return false;
    default:
        return false;
    }
}
