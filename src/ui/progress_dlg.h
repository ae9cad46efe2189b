// The small window of a long operation: a line of text, a bar and Cancel.
// The operation runs in its owner and reads the cancel flag after each item.
#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;

// Handles every event waiting for this thread and returns; never waits.
void PumpMessages();

class CProgressDlg : public QDialog {
    Q_OBJECT

public:
    // A window of its own, so that disabling the owner leaves Cancel usable,
    // placed over the owner and kept above it.
    explicit CProgressDlg(QWidget* owner);

    // The line is shortened with an ellipsis to fit; Text() is the whole of it.
    // Once Cancel is pressed the line says so and later texts are not shown.
    void SetText(const QString& text);
    QString Text() const { return m_fullText; }
    void SetRange(int lower, int upper);
    // A bar that moves to and fro, for work whose size isn't known yet.
    void SetBusy();
    void SetStep(int step) { m_step = step; }
    void SetPos(int pos);
    int Pos() const;
    // Moves the bar one step on; called as an item begins.
    void StepIt();

    // Shows the window centred over its owner.
    void ShowCentred();
    // Ends the window on the next pass of the event loop; it deletes itself.
    // The caller must not touch it afterwards.
    void PostClose();

    bool Cancelled() const { return m_cancelled != 0; }
    QPushButton* CancelButton() const { return m_cancelButton; }

signals:
    // After the bar moved, before the item's work.
    void stepped(int pos);
    // Cancel was pressed or the window closed by the user, once per showing.
    void cancelRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnCancelButton();
    void ShowLine(const QString& text);
    void CentreOverOwner();

    int m_cancelled = 0;
    QString m_fullText;
    QLabel* m_text = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPointer<QWidget> m_owner;
    int m_step = 1;
    bool m_closing = false;
};
