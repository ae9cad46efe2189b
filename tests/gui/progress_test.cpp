// The progress window and the event pump.
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "ui/progress_dlg.h"

class ProgressTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsTextBarAndCancel()
    {
        QWidget owner;
        owner.setGeometry(100, 100, 627, 525);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QPointer<CProgressDlg> progress = new CProgressDlg(&owner);
        progress->SetText(QStringLiteral("Adding file 1 of 3..."));
        progress->SetRange(0, 3);
        progress->SetStep(1);
        progress->SetPos(0);
        progress->ShowCentred();
        QVERIFY(QTest::qWaitForWindowExposed(progress.data()));
        QCOMPARE(progress->Text(), QStringLiteral("Adding file 1 of 3..."));
        QCOMPARE(progress->CancelButton()->text(), QStringLiteral("Cancel"));
        // Centred over its owner.
        QVERIFY((progress->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() <= 2);
        // A window of its own: disabling the owner leaves Cancel usable.
        owner.setEnabled(false);
        QVERIFY(progress->CancelButton()->isEnabled());
        progress->StepIt();
        progress->StepIt();
        progress->StepIt();
        // The step comes before the item, so the third item shows a full bar.
        QCOMPARE(progress->Pos(), 3);
        QCOMPARE(progress->findChild<QProgressBar*>()->maximum(), 3);
        progress->PostClose();
        QVERIFY(progress);  // posted, not yet gone
        QTRY_VERIFY(!progress);
    }

    void centredOnTheScreenWithoutAVisibleOwner()
    {
        QWidget owner;
        auto* progress = new CProgressDlg(&owner);
        progress->ShowCentred();
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(progress->frameGeometry().center().x() - area.center().x()) <= 1);
        QVERIFY(qAbs(progress->frameGeometry().center().y() - area.center().y()) <= 1);
        progress->PostClose();
        PumpMessages();
    }

    void cancelSetsTheFlagAndKeepsTheWindow()
    {
        QPointer<CProgressDlg> progress = new CProgressDlg(nullptr);
        progress->ShowCentred();
        QVERIFY(QTest::qWaitForWindowExposed(progress.data()));
        QVERIFY(!progress->Cancelled());
        int requests = 0;
        connect(progress.data(), &CProgressDlg::cancelRequested, this, [&requests] { ++requests; });
        progress->SetText(QStringLiteral("[1/2] Converting a.swf..."));
        QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
        QVERIFY(progress->Cancelled());
        // Said at once, and not pressed twice.
        QCOMPARE(progress->Text(), QStringLiteral("Cancelling..."));
        QVERIFY(!progress->CancelButton()->isEnabled());
        QCOMPARE(requests, 1);
        // The item under way can't overwrite it.
        progress->SetText(QStringLiteral("[2/2] Converting b.swf..."));
        QCOMPARE(progress->Text(), QStringLiteral("Cancelling..."));
        PumpMessages();
        QVERIFY(progress && progress->isVisible());
        progress->PostClose();
        QTRY_VERIFY(!progress);
    }

    void aLongLineIsShortenedAtACharacter()
    {
        QPointer<CProgressDlg> progress = new CProgressDlg(nullptr);
        QLabel* line = progress->findChild<QLabel*>(QStringLiteral("text"));
        // Letters outside the Basic Multilingual Plane take two UTF-16 units;
        // a cut between them would leave half a character.
        QString name;
        for (int i = 0; i < 120; ++i)
            name += QStringLiteral("\U0001D11Eé");
        const QString text = QStringLiteral("[1/1] Converting ") + name + QStringLiteral(".swf...");
        progress->SetText(text);
        QCOMPARE(progress->Text(), text);
        const QString shown = line->text();
        QVERIFY(shown.contains(QChar(0x2026)));
        QVERIFY(shown.startsWith(QStringLiteral("[1/1] Converting ")));
        QVERIFY(line->fontMetrics().horizontalAdvance(shown) <= line->width());
        for (int i = 0; i < shown.size(); ++i) {
            QVERIFY(!shown[i].isHighSurrogate() || (i + 1 < shown.size() && shown[i + 1].isLowSurrogate()));
            QVERIFY(!shown[i].isLowSurrogate() || (i > 0 && shown[i - 1].isHighSurrogate()));
        }
        QCOMPARE(line->toolTip(), text);
        // A line that fits is shown whole.
        progress->SetText(QStringLiteral("Adding file 1 of 2..."));
        QCOMPARE(line->text(), QStringLiteral("Adding file 1 of 2..."));
        delete progress.data();
    }

    void enterAndEscapeDoNothing()
    {
        QPointer<CProgressDlg> progress = new CProgressDlg(nullptr);
        progress->ShowCentred();
        QVERIFY(QTest::qWaitForWindowExposed(progress.data()));
        QTest::keyClick(progress.data(), Qt::Key_Escape);
        QTest::keyClick(progress.data(), Qt::Key_Return);
        QTest::keyClick(progress->CancelButton(), Qt::Key_Return);
        QTest::keyClick(progress->CancelButton(), Qt::Key_Enter);
        PumpMessages();
        QVERIFY(progress && progress->isVisible());
        QVERIFY(!progress->Cancelled());
        progress->PostClose();
        QTRY_VERIFY(!progress);
    }

    void closeByTheUserCountsAsCancel()
    {
        QPointer<CProgressDlg> progress = new CProgressDlg(nullptr);
        progress->ShowCentred();
        QVERIFY(QTest::qWaitForWindowExposed(progress.data()));
        QVERIFY(!progress->close());
        PumpMessages();
        QVERIFY(progress);
        QVERIFY(progress->isVisible());
        QVERIFY(progress->Cancelled());
        progress->PostClose();
        QTRY_VERIFY(!progress);
    }

    void pumpHandlesWaitingEventsAndReturns()
    {
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        PumpMessages();
        QVERIFY(ran);
        // Nothing waiting: returns at once.
        PumpMessages();
    }
};

QTEST_MAIN(ProgressTest)
#include "progress_test.moc"
