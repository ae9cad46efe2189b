#include "ui/progress_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

void PumpMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

CProgressDlg::CProgressDlg(QWidget* owner)
    : QDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint), m_owner(owner)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Orvellin"));
    setFixedSize(380, 106);

    // No caption: the window draws its own raised frame.
    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::WinPanel | QFrame::Raised);
    frame->setGeometry(rect());

    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setGeometry(11, 11, 358, 16);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setGeometry(11, 33, 358, 23);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancel"));
    m_cancelButton->setGeometry(152, 68, 75, 26);
    m_cancelButton->setAutoDefault(false);
    m_cancelButton->setDefault(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &CProgressDlg::OnCancelButton);
    m_cancelButton->setFocus();
}

void CProgressDlg::SetText(const QString& text)
{
    if (!m_cancelled)
        ShowLine(text);
}

void CProgressDlg::ShowLine(const QString& text)
{
    m_fullText = text;
    // Whole characters only: a long file name ends in an ellipsis, never in a
    // cut glyph.
    const QString shown = m_text->fontMetrics().elidedText(text, Qt::ElideMiddle, m_text->width());
    m_text->setText(shown);
    m_text->setToolTip(shown == text ? QString() : text);
}

void CProgressDlg::OnCancelButton()
{
    if (m_cancelled)
        return;
    m_cancelled = 1;
    // The item under way still finishes, which can take a while: say at once
    // that the press was taken.
    ShowLine(QStringLiteral("Cancelling..."));
    m_cancelButton->setEnabled(false);
    emit cancelRequested();
}

void CProgressDlg::SetRange(int lower, int upper)
{
    // A bar with an empty range would show a busy animation instead of progress.
    m_progress->setRange(lower, upper > lower ? upper : lower + 1);
}

void CProgressDlg::SetBusy()
{
    m_progress->setRange(0, 0);
}

void CProgressDlg::SetPos(int pos)
{
    m_progress->setValue(pos);
}

int CProgressDlg::Pos() const
{
    return m_progress->value();
}

void CProgressDlg::StepIt()
{
    int next = m_progress->value() + m_step;
    // Like a system progress bar, stepping past the end starts again.
    if (next > m_progress->maximum())
        next = m_progress->minimum() + (next - m_progress->maximum());
    m_progress->setValue(next);
    emit stepped(next);
}

void CProgressDlg::ShowCentred()
{
    m_cancelled = 0;
    m_cancelButton->setEnabled(true);
    winId();
    if (m_owner && windowHandle() && m_owner->window()->windowHandle())
        windowHandle()->setTransientParent(m_owner->window()->windowHandle());
    CentreOverOwner();
    show();
}

void CProgressDlg::CentreOverOwner()
{
    QRect area;
    const QWidget* owner = m_owner ? m_owner->window() : nullptr;
    if (owner && owner->isVisible() && !owner->isMinimized()) {
        area = owner->frameGeometry();
    } else {
        const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        if (screen)
            area = screen->availableGeometry();
    }
    if (area.isValid())
        move(area.center() - QPoint(width() / 2, height() / 2));
}

void CProgressDlg::PostClose()
{
    m_closing = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CProgressDlg::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    // The owner's loop reads the flag until it closes the window itself, so a
    // close by the user only asks to stop.
    OnCancelButton();
    event->ignore();
}

void CProgressDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();  // neither closes the window nor cancels
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}
