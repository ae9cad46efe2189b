// The main window: look, menus, enabling rules, list commands, help and links.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QToolTip>
#include <QHelpEvent>
#include <QTextBrowser>
#include <QTimer>
#include <filesystem>
#include <set>

#include "gui_support.h"
#include "support/swf_builder.h"
#include "ui/command_ids.h"
#include "ui/help_window.h"
#include "ui/links.h"
#include "ui/about_dlg.h"
#include "ui/main_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/sort_list.h"
#include "ui/widgets.h"

namespace {

QStringList MenuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

QAction* FindAction(QMenu* menu, int id)
{
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator() && action->data().toInt() == id)
            return action;
    }
    return nullptr;
}

// Opens the menu the way the user does and reads which items are enabled.
std::map<int, bool> EnabledWhenOpened(QMenu* menu)
{
    menu->popup(QPoint(10, 10));
    std::map<int, bool> enabled;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator())
            enabled[action->data().toInt()] = action->isEnabled();
    }
    menu->hide();
    return enabled;
}

QStringList HeaderTexts(const CSortListCtrl* list)
{
    QStringList texts;
    for (int c = 0; c < list->columnCount(); ++c)
        texts << list->headerItem()->text(c);
    return texts;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::vector<std::string> MakeMovies(const TempDir& temp, int count)
    {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i)
            paths.push_back(MakeMovie(temp / ("movie" + std::to_string(i + 1) + ".swf"), 1));
        return paths;
    }

private Q_SLOTS:
    void windowShapeAndTitle()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QCOMPARE(w.size(), QSize(627, 525));
        QCOMPARE(w.windowTitle(), QStringLiteral("Orvellin"));
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!w.windowIcon().isNull());
        QCOMPARE(w.SwfList()->geometry(), QRect(138, 57, 480, 226));
        QCOMPARE(w.OutputList()->geometry(), QRect(138, 291, 480, 226));
        // It may grow, and shrink as far as its buttons allow.
        QCOMPARE(w.minimumSize(), QSize(560, 470));
        QVERIFY(w.maximumWidth() > 2000 && w.maximumHeight() > 2000);
        // The background covers the whole window.
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.size(), QSize(627, 525));
        QVERIFY(shot.pixelColor(5, 5) != shot.pixelColor(5, 400));
    }

    void buttonsTextsPlacesAndTooltips()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        struct Expect {
            int id;
            const char* text;
            QRect rect;
            const char* tip;
        };
        const Expect expected[] = {
            {cmd::AddSwf, "&Add SWF", {15, 59, 108, 26}, "Add SWF files"},
            {cmd::AddFolder, "Add &Folder", {15, 104, 108, 26}, "Search all SWF files from a folder and add them"},
            {cmd::RemoveAll, "&Remove All", {15, 150, 108, 26}, "Remove all SWF files"},
            {cmd::ConvertAllMp3, "Convert to &MP3", {15, 195, 108, 26}, "Convert all SWF files to MP3 files"},
            {cmd::ConvertAllWav, "Convert to &WAV", {15, 241, 108, 26}, "Convert all SWF files to WAV files"},
            {cmd::Merge, "Mer&ge MP3", {15, 286, 108, 26}, "Merge multiple converted MP3 files into single one"},
            {cmd::ConvertAllFlac, "Convert to F&LAC", {15, 331, 108, 26}, "Convert all SWF files to FLAC files"},
            {cmd::ConvertAllKeep, "&Keep as Stored", {15, 376, 108, 26},
             "Keep the sounds of all SWF files as the movies store them"},
            {cmd::Homepage, "orvellin.example", {14, 497, 113, 20}, "Visit Orvellin Homepage"},
            {cmd::HelpMenu, "", {545, 5, 21, 21}, "Help"},
            {cmd::Minimize, "", {569, 5, 21, 21}, "Minimize"},
            {cmd::Close, "", {593, 5, 21, 21}, "Close"},
        };
        for (const Expect& e : expected) {
            QAbstractButton* button = w.Button(e.id);
            QVERIFY2(button, qPrintable(QString::number(e.id)));
            QCOMPARE(button->text(), QString::fromLatin1(e.text));
            QCOMPARE(button->geometry(), e.rect);
            QCOMPARE(button->toolTip(), QString::fromLatin1(e.tip));
            QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
            QCOMPARE(button->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, button), 300);
        }
        auto* add = qobject_cast<CIconButton*>(w.Button(cmd::AddSwf));
        QVERIFY(add);
        QCOMPARE(add->TextColor(), QColor(53, 53, 53));
        QCOMPARE(add->font().pixelSize(), 11);
        QVERIFY(add->font().bold());
        auto* link = qobject_cast<CLinkButton*>(w.Button(cmd::Homepage));
        QVERIFY(link);
        QVERIFY(link->font().underline());
        QCOMPARE(link->CurrentColor(), QColor(0, 0, 255));
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(link, &enter);
        QCOMPARE(link->CurrentColor(), QColor(255, 0, 0));
        QVERIFY(!add->IsHot());
        QCoreApplication::sendEvent(add, &enter);
        QVERIFY(add->IsHot());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(add, &leave);
        QVERIFY(!add->IsHot());
        // Minimised, the window gets no leave event: hiding ends the hover.
        QCoreApplication::sendEvent(add, &enter);
        w.hide();
        QVERIFY(!add->IsHot());
        QCOMPARE(link->CurrentColor(), QColor(0, 0, 255));
        w.show();
        // Disabled while a long operation runs: never hot, greyed.
        QCoreApplication::sendEvent(add, &enter);
        QCoreApplication::sendEvent(link, &enter);
        w.setEnabled(false);
        QVERIFY(!add->IsHot());
        QCOMPARE(link->CurrentColor(), QColor(150, 150, 150));
        w.setEnabled(true);
    }

    void theWindowGrowsAndKeepsItsLayout()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const int swfFile = w.SwfList()->columnWidth(1);
        const int outFile = w.OutputList()->columnWidth(1);
        const int outPath = w.OutputList()->columnWidth(7);
        w.resize(760, 580);
        // The lists share the new room; the corner buttons and the link keep to their corners.
        QCOMPARE(w.SwfList()->geometry(), QRect(138, 57, 613, 253));
        QCOMPARE(w.OutputList()->geometry(), QRect(138, 318, 613, 254));
        QCOMPARE(w.Button(cmd::Close)->geometry(), QRect(726, 5, 21, 21));
        QCOMPARE(w.Button(cmd::HelpMenu)->geometry(), QRect(678, 5, 21, 21));
        QCOMPARE(w.Button(cmd::Homepage)->geometry(), QRect(14, 552, 113, 20));
        QCOMPARE(w.Button(cmd::AddSwf)->geometry(), QRect(15, 59, 108, 26));
        // The File columns take the room; the others keep their widths.
        QCOMPARE(w.SwfList()->columnWidth(1), swfFile + 133);
        QCOMPARE(w.OutputList()->columnWidth(1), outFile + 133);
        QCOMPARE(w.OutputList()->columnWidth(7), outPath);
        // The face is painted at the new size: the title band runs to the right edge.
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.size(), QSize(760, 580));
        QCOMPARE(shot.pixelColor(740, 40), shot.pixelColor(5, 40));
        // Shrunk below its first size, a File column stops at its minimum.
        w.resize(560, 470);
        QCOMPARE(w.OutputList()->columnWidth(1), std::max(60, outFile - 67));

        // Sized and arranged by the user, it comes back so the next time.
        w.resize(700, 560);
        w.move(30, 20);
        w.OutputList()->setColumnWidth(7, 333);
        w.OutputList()->setColumnWidth(1, 250);
        const QRect geometry = w.geometry();
        w.close();
        {
            CMainDlg again(f.settings.Services());
            again.show();
            QVERIFY(QTest::qWaitForWindowExposed(&again));
            QCOMPARE(again.geometry(), geometry);
            QCOMPARE(again.OutputList()->columnWidth(7), 333);
            QCOMPARE(again.OutputList()->columnWidth(1), 250);
            // The File column the user set is the one that then grows.
            again.resize(800, 560);
            QCOMPARE(again.OutputList()->columnWidth(1), 350);
            again.close();
        }
        // Settings that are no layout of this window leave the first one.
        f.settings.Settings().setValue(QStringLiteral("Window/Geometry"), QStringLiteral("not base64 at all"));
        f.settings.Settings().setValue(QStringLiteral("Window/OutputColumns"), QStringLiteral("35 120 -5 1 2 3 4 5"));
        f.settings.Settings().setValue(QStringLiteral("Window/SwfColumns"), QStringLiteral("35 120"));
        CMainDlg fresh(f.settings.Services());
        QCOMPARE(fresh.size(), QSize(627, 525));
        QCOMPARE(fresh.OutputList()->columnWidth(1), outFile);
        QCOMPARE(fresh.SwfList()->columnWidth(1), swfFile);
    }

    void draggingAnEdgeResizesTheWindow()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const QRect start = w.geometry();
        const auto drag = [&w](const QPoint& grab, const QPoint& by) {
            const QPoint global = w.mapToGlobal(grab);
            QMouseEvent press(QEvent::MouseButtonPress, grab, global, Qt::LeftButton, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&w, &press);
            QMouseEvent move(QEvent::MouseMove, grab + by, global + by, Qt::NoButton, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&w, &move);
            QMouseEvent release(QEvent::MouseButtonRelease, grab + by, global + by, Qt::LeftButton, Qt::NoButton, {});
            QCoreApplication::sendEvent(&w, &release);
        };
        // The lower right corner: both sizes.
        drag(QPoint(w.width() - 2, w.height() - 2), QPoint(60, 40));
        QCOMPARE(w.geometry(), QRect(start.topLeft(), start.size() + QSize(60, 40)));
        // The left edge: the right one stays put; never below the minimum.
        drag(QPoint(1, 200), QPoint(400, 0));
        QCOMPARE(w.width(), 560);
        QCOMPARE(w.geometry().right(), start.right() + 60);
        // A hover over an edge shows which way it goes.
        QMouseEvent hover(QEvent::MouseMove, QPoint(w.width() - 2, 200), w.mapToGlobal(QPoint(w.width() - 2, 200)),
                          Qt::NoButton, Qt::NoButton, {});
        QCoreApplication::sendEvent(&w, &hover);
        QCOMPARE(w.cursor().shape(), Qt::SizeHorCursor);
        // A double click on the title band fills the screen, and a second one undoes it.
        QTest::mouseDClick(&w, Qt::LeftButton, {}, QPoint(300, 20));
        QTRY_VERIFY(w.isMaximized());
        QTest::mouseDClick(&w, Qt::LeftButton, {}, QPoint(300, 20));
        QTRY_VERIFY(!w.isMaximized());
    }

    void listColumns()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QCOMPARE(HeaderTexts(w.SwfList()), (QStringList{"No.", "File", "Status", "Ver", "Dimension", "Length",
                                                       "Rate", "Frames", "Path"}));
        QCOMPARE(HeaderTexts(w.OutputList()),
                 (QStringList{"No.", "File", "Format", "Length", "Bits", "Freq.", "Ch.", "Path"}));
        // At least their classic widths; the Path column gives what the
        // others need beyond them, so the whole stays as wide.
        const int swfWidths[] = {35, 125, 70, 35, 65, 50, 45, 55, 200};
        const bool swfRight[] = {false, false, true, true, false, true, true, true, false};
        int total = 0;
        for (int c = 0; c < 9; ++c) {
            QVERIFY(c == 8 || w.SwfList()->columnWidth(c) >= swfWidths[c]);
            QCOMPARE(bool(w.SwfList()->ColumnAlignment(c) & Qt::AlignRight), swfRight[c]);
            total += w.SwfList()->columnWidth(c);
        }
        QCOMPARE(total, 680);
        const int outWidths[] = {35, 120, 50, 50, 35, 60, 45, 200};
        const bool outRight[] = {false, false, false, true, true, true, false, false};
        total = 0;
        for (int c = 0; c < 8; ++c) {
            QVERIFY(c == 7 || w.OutputList()->columnWidth(c) >= outWidths[c]);
            QCOMPARE(bool(w.OutputList()->ColumnAlignment(c) & Qt::AlignRight), outRight[c]);
            total += w.OutputList()->columnWidth(c);
        }
        QCOMPARE(total, 595);

        // The longest status and format show whole; cells that are cut off
        // carry their whole text as a tooltip, the others none.
        const QString longName = QStringLiteral("a_movie_with_a_rather_long_name_from_an_old_archive.swf");
        w.SwfList()->InsertItem({"12345", longName, "10 of 12 Sound(s)", "10", "8191 x 8191", "1092:15", "120 Hz",
                                 "65535", "/x"},
                                nullptr);
        w.OutputList()->InsertItem({"1", longName, "WAV (Nellymoser)", "999:59", "16", "44.1 kHz", "Stereo", "/x"},
                                   nullptr);
        for (int c = 0; c < 9; ++c)
            QCOMPARE(w.SwfList()->CellToolTip(0, c), c == 1 ? longName : QString());
        for (int c = 0; c < 8; ++c)
            QCOMPARE(w.OutputList()->CellToolTip(0, c), c == 1 ? longName : QString());
        // Shown where the mouse rests on the cell.
        const QRect cell = w.SwfList()->visualRect(w.SwfList()->model()->index(0, 1));
        QHelpEvent help(QEvent::ToolTip, cell.center(), w.SwfList()->viewport()->mapToGlobal(cell.center()));
        QCoreApplication::sendEvent(w.SwfList()->viewport(), &help);
        QTRY_COMPARE(QToolTip::text(), longName);
        w.SwfList()->DeleteAllItems();
        w.OutputList()->DeleteAllItems();
        QCOMPARE(w.SwfList()->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(w.OutputList()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(w.SwfList()->selectionBehavior(), QAbstractItemView::SelectRows);
    }

    void rowFormats()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        CSwfEntry entry;
        SwfHeaderInfo info;
        info.width = 550;
        info.height = 400;
        info.frameRate = 12;
        info.frameCount = 1500;
        info.version = 8;
        w.InsertSwfRow("/data/films/intro.swf", info, &entry);
        info.frameRate = 0;
        info.frameCount = 10;
        w.InsertSwfRow("noslash.swf", info, &entry);
        info.frameRate = 1;
        info.frameCount = 7200;
        w.InsertSwfRow("/x/long.swf", info, &entry);
        QCOMPARE(ColumnTexts(w.SwfList(), 0), (QStringList{"1", "2", "3"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 1), (QStringList{"intro.swf", "noslash.swf", "long.swf"}));
        QCOMPARE(w.SwfList()->GetItemText(0, 2), QString());
        QCOMPARE(w.SwfList()->GetItemText(0, 3), QStringLiteral("8"));
        QCOMPARE(w.SwfList()->GetItemText(0, 4), QStringLiteral("550 x 400"));
        QCOMPARE(ColumnTexts(w.SwfList(), 5), (QStringList{"02:05", "--:--", "120:00"}));
        QCOMPARE(w.SwfList()->GetItemText(0, 6), QStringLiteral("12 Hz"));
        QCOMPARE(w.SwfList()->GetItemText(0, 7), QStringLiteral("1500"));
        QCOMPARE(w.SwfList()->GetItemText(0, 8), QStringLiteral("/data/films/intro.swf"));
        QCOMPARE(w.SwfList()->GetItemData(0), static_cast<void*>(&entry));

        std::list<CSoundElement> sounds;
        sounds.push_back({1, 8, 22050, 22050 * 75, 0, "/out/a_001.wav"});
        sounds.push_back({2, 16, 44100, 44100 * 3, 1, "/out/a_002.mp3"});
        sounds.push_back({1, 16, 5512, 100, 1, "/out/a_003.mp3"});
        sounds.push_back({2, 16, 11025, 11025, 0, "/out/a_004.wav"});
        for (CSoundElement& s : sounds)
            w.InsertSoundRow(&s);
        QCOMPARE(w.Mp3Count(), 2);
        QCOMPARE(ColumnTexts(w.OutputList(), 1),
                 (QStringList{"a_001.wav", "a_002.mp3", "a_003.mp3", "a_004.wav"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 2), (QStringList{"WAV", "MP3", "MP3", "WAV"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 3), (QStringList{"01:15", "00:03", "00:00", "00:01"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 4), (QStringList{"8", "16", "16", "16"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 5), (QStringList{"22.1 kHz", "44.1 kHz", "5.5 kHz", "11.0 kHz"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 6), (QStringList{"Mono", "Stereo", "Mono", "Stereo"}));
        QCOMPARE(w.OutputList()->GetItemText(0, 7), QStringLiteral("/out/a_001.wav"));
        w.OutputList()->DeleteAllItems();
        w.SwfList()->DeleteAllItems();
    }

    void menuItemsIconsAndTexts()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QCOMPARE(MenuTexts(w.Menu(0)),
                 (QStringList{"&Play", "&Remove\tDel", "Remove Al&l", "-", "&Convert to MP3", "Co&nvert to WAV",
                              "C&onvert to FLAC", "&Keep as Stored", "Con&vert All to MP3", "Conver&t All to WAV",
                              "Conv&ert All to FLAC", "Keep All as Store&d", "Save Sound&track As...", "-", "&Add SWF Files...\tCtrl+O",
                              "Add &Folder...", "-", "Browse &SWF Folder..."}));
        QCOMPARE(MenuTexts(w.Menu(1)), (QStringList{"&Play", "&Delete\tShift+Del", "Save &As...\tCtrl+S",
                                                    "Browse &Folder...", "-", "&Merge MP3..."}));
        QCOMPARE(MenuTexts(w.Menu(2)),
                 (QStringList{"&Help Topics\tF1", "-", "&Tell A Friend", "&Feedback and Support", "Home&page",
                              "&Check Latest Version", "-", "&About"}));
        for (int id : {cmd::PlaySwf, cmd::Remove, cmd::AddSwf, cmd::ConvertMp3, cmd::ConvertAllMp3})
            QVERIFY(!FindAction(w.Menu(0), id)->icon().isNull());
        for (int id : {cmd::RemoveAll, cmd::ConvertWav, cmd::ConvertAllWav, cmd::ConvertFlac, cmd::ConvertKeep,
                       cmd::ConvertAllFlac, cmd::ConvertAllKeep, cmd::SaveSoundtrack, cmd::AddFolder, cmd::BrowseSwfFolder})
            QVERIFY(FindAction(w.Menu(0), id)->icon().isNull());
        for (int id : {cmd::Play, cmd::Delete, cmd::SaveAs})
            QVERIFY(!FindAction(w.Menu(1), id)->icon().isNull());
        for (int id : {cmd::HelpTopics, cmd::Homepage, cmd::TellAFriend, cmd::Feedback, cmd::CheckVersion, cmd::About})
            QVERIFY(!FindAction(w.Menu(2), id)->icon().isNull());
    }

    void enablingRulesOnAnEmptyList()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // Right click on the empty SWF list.
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(50, 50), w.SwfList()->viewport()->mapToGlobal(QPoint(50, 50)));
        QCoreApplication::sendEvent(w.SwfList()->viewport(), &click);
        QTRY_VERIFY(w.Menu(0)->isVisible());
        for (int id : {cmd::Remove, cmd::RemoveAll, cmd::ConvertMp3, cmd::ConvertWav, cmd::ConvertAllMp3,
                       cmd::ConvertAllWav, cmd::ConvertFlac, cmd::ConvertKeep, cmd::ConvertAllFlac,
                       cmd::ConvertAllKeep, cmd::PlaySwf, cmd::BrowseSwfFolder, cmd::SaveSoundtrack})
            QVERIFY2(!FindAction(w.Menu(0), id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(FindAction(w.Menu(0), cmd::AddSwf)->isEnabled());
        QVERIFY(FindAction(w.Menu(0), cmd::AddFolder)->isEnabled());
        w.Menu(0)->hide();

        const auto output = EnabledWhenOpened(w.Menu(1));
        for (int id : {cmd::Play, cmd::Delete, cmd::SaveAs, cmd::BrowseFolder, cmd::Merge})
            QVERIFY(!output.at(id));
        const auto help = EnabledWhenOpened(w.Menu(2));
        for (const auto& [id, enabled] : help)
            QVERIFY(enabled);
        // The buttons are never disabled.
        for (int id : {cmd::AddSwf, cmd::AddFolder, cmd::RemoveAll, cmd::ConvertAllMp3, cmd::ConvertAllWav, cmd::Merge,
                       cmd::ConvertAllFlac, cmd::ConvertAllKeep})
            QVERIFY(w.Button(id)->isEnabled());
    }

    void enablingRulesOnAFullList()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        w.AddSwfFiles(MakeMovies(f.temp, 3), nullptr);
        QCOMPARE(w.SwfList()->GetItemCount(), 3);

        auto swf = EnabledWhenOpened(w.Menu(0));
        for (int id : {cmd::RemoveAll, cmd::ConvertAllMp3, cmd::ConvertAllWav, cmd::AddSwf, cmd::AddFolder})
            QVERIFY(swf.at(id));
        for (int id : {cmd::Remove, cmd::ConvertMp3, cmd::ConvertWav, cmd::PlaySwf, cmd::BrowseSwfFolder,
                       cmd::SaveSoundtrack})
            QVERIFY(!swf.at(id));

        w.SwfList()->SelectRow(1, true);
        swf = EnabledWhenOpened(w.Menu(0));
        for (const auto& [id, enabled] : swf)
            QVERIFY2(enabled, qPrintable(QString::number(id)));

        // Sounds: fake records of the selected entry drive the output rules.
        CSwfEntry* entry = static_cast<CSwfEntry*>(w.SwfList()->GetItemData(1));
        entry->sounds.push_back({1, 16, 11025, 100, 1, f.temp / "a_001.mp3"});
        entry->sounds.push_back({1, 16, 11025, 100, 0, f.temp / "a_002.wav"});
        w.ShowSounds();
        QCOMPARE(w.Mp3Count(), 1);
        auto out = EnabledWhenOpened(w.Menu(1));
        QVERIFY(!out.at(cmd::Play) && !out.at(cmd::Delete) && !out.at(cmd::Merge));
        w.OutputList()->SelectRow(0, false);
        out = EnabledWhenOpened(w.Menu(1));
        QVERIFY(out.at(cmd::Play) && out.at(cmd::Delete) && out.at(cmd::SaveAs) && out.at(cmd::BrowseFolder));
        QVERIFY(!out.at(cmd::Merge));
        w.OutputList()->SelectRow(1, false);
        out = EnabledWhenOpened(w.Menu(1));
        QVERIFY(!out.at(cmd::Play) && !out.at(cmd::SaveAs) && !out.at(cmd::BrowseFolder));
        QVERIFY(out.at(cmd::Delete));
        entry->sounds.push_back({1, 16, 11025, 100, 1, f.temp / "a_003.mp3"});
        w.ShowSounds();
        QCOMPARE(w.Mp3Count(), 2);
        QVERIFY(EnabledWhenOpened(w.Menu(1)).at(cmd::Merge));
        QVERIFY(w.Button(cmd::Merge)->isEnabled());
    }

    void sortingRenumbersTheSortedList()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::vector<std::string> paths;
        const uint16_t frames[] = {10, 9, 100};
        for (int i = 0; i < 3; ++i)
            paths.push_back(MakeMovie(f.temp / ("m" + std::to_string(i) + ".swf"), 0, frames[i]));
        w.AddSwfFiles(paths, nullptr);
        QHeaderView* header = w.SwfList()->header();
        auto clickHeader = [header](int column) {
            const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
        };
        clickHeader(7);  // Frames
        QCOMPARE(ColumnTexts(w.SwfList(), 7), (QStringList{"10", "100", "9"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 0), (QStringList{"1", "2", "3"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 1), (QStringList{"m0.swf", "m2.swf", "m1.swf"}));
        clickHeader(7);
        QCOMPARE(ColumnTexts(w.SwfList(), 7), (QStringList{"9", "100", "10"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 0), (QStringList{"1", "2", "3"}));
        clickHeader(1);
        QCOMPARE(ColumnTexts(w.SwfList(), 1), (QStringList{"m0.swf", "m1.swf", "m2.swf"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 0), (QStringList{"1", "2", "3"}));
    }

    void removeAndRemoveAll()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // Nothing there yet.
        w.OnCommand(cmd::Remove);
        QTest::mouseClick(w.Button(cmd::RemoveAll), Qt::LeftButton);
        QCOMPARE(f.messages.messages.size(), size_t(2));
        QCOMPARE(f.messages.messages[0].text, QStringLiteral("You should select a SWF file first."));
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Information);
        QCOMPARE(f.messages.messages[1].text, QStringLiteral("There aren't SWF files in SWF list."));
        QCOMPARE(f.messages.messages[1].icon, MsgIcon::Information);

        const auto paths = MakeMovies(f.temp, 4);
        w.AddSwfFiles(paths, nullptr);
        QTRY_VERIFY(w.isActiveWindow());
        CSwfEntry* second = static_cast<CSwfEntry*>(w.SwfList()->GetItemData(1));
        second->sounds.push_back({1, 16, 11025, 100, 1, f.temp / "kept.mp3"});
        WriteFileBytes(f.temp / "kept.mp3", "x");
        w.SwfList()->SelectRow(1, true);
        QCOMPARE(w.OutputList()->GetItemCount(), 1);

        // Del removes the movie even while the output list has the focus.
        w.OutputList()->setFocus();
        QTest::keyClick(w.OutputList(), Qt::Key_Delete);
        QCOMPARE(w.SwfList()->GetItemCount(), 3);
        QCOMPARE(w.Entries().size(), size_t(3));
        QCOMPARE(w.OutputList()->GetItemCount(), 0);
        QCOMPARE(w.Mp3Count(), 0);
        QCOMPARE(w.SwfList()->GetSelectedCount(), 0);
        QCOMPARE(ColumnTexts(w.SwfList(), 1), (QStringList{"movie1.swf", "movie3.swf", "movie4.swf"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 0), (QStringList{"1", "2", "3"}));
        QVERIFY(std::filesystem::exists(f.temp / "kept.mp3"));

        // A removed movie may be added again.
        w.AddSwfFiles({paths[1]}, nullptr);
        QCOMPARE(w.SwfList()->GetItemCount(), 4);

        QTest::mouseClick(w.Button(cmd::RemoveAll), Qt::LeftButton);
        QCOMPARE(w.SwfList()->GetItemCount(), 0);
        QCOMPARE(w.Entries().size(), size_t(0));
        QCOMPARE(f.messages.messages.size(), size_t(2));
        for (const std::string& path : paths)
            QVERIFY(std::filesystem::exists(path));
    }

    void enterAndEscapeDoNothing()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QTest::keyClick(&w, Qt::Key_Escape);
        QTest::keyClick(&w, Qt::Key_Return);
        QTest::keyClick(w.Button(cmd::AddSwf), Qt::Key_Return);
        QTest::keyClick(w.SwfList(), Qt::Key_Escape);
        PumpMessages();
        QVERIFY(w.isVisible());
        QVERIFY(f.dialogs.asked.isEmpty());
    }

    void shortcutsRunTheirCommands()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(f.dialogs.asked, QStringList{"open Flash Movie Files (*.swf)"});

        w.AddSwfFiles(MakeMovies(f.temp, 1), nullptr);
        QTRY_VERIFY(w.isActiveWindow());
        CSwfEntry* entry = static_cast<CSwfEntry*>(w.SwfList()->GetItemData(0));
        const std::string a = MakeMovie(f.temp / "a_001.wav", 0);
        const std::string b = MakeMovie(f.temp / "a_002.mp3", 0);
        entry->sounds.push_back({1, 16, 11025, 100, 0, a});
        entry->sounds.push_back({1, 16, 11025, 100, 1, b});
        w.SwfList()->SelectRow(0, true);
        QCOMPARE(w.OutputList()->GetItemCount(), 2);

        // Ctrl+S: Save As on the selected sound; its own name is refused.
        w.OutputList()->SelectRow(0, true);
        f.dialogs.saveAnswers.push_back(a);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.dialogs.asked.last(), QString::fromStdString("save " + a) +
                                             QStringLiteral("|WAV File (*.wav);MP3 File (*.mp3);FLAC File (*.flac);All Files (*)"));
        QCOMPARE(f.messages.messages.back().text, QStringLiteral("You should choose a different file name."));
        QCOMPARE(f.messages.messages.back().icon, MsgIcon::Exclamation);
        f.dialogs.saveAnswers.push_back(f.temp / "copy");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(ReadFileBytes(f.temp / "copy.wav"), ReadFileBytes(a));

        // Shift+Del: deletes the selected sound files after asking.
        w.OutputList()->selectAll();
        f.messages.answers.push_back(QMessageBox::No);
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(w.OutputList()->GetItemCount(), 2);
        QCOMPARE(f.messages.messages.back().text, QStringLiteral("Are you sure to delete selected file(s)?"));
        QCOMPARE(f.messages.messages.back().icon, MsgIcon::Question);
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(w.OutputList()->GetItemCount(), 0);
        QCOMPARE(w.Mp3Count(), 0);
        QVERIFY(entry->sounds.empty());
        QVERIFY(!std::filesystem::exists(a));
        QVERIFY(!std::filesystem::exists(b));
        QCOMPARE(w.SwfList()->GetItemCount(), 1);

        // Del: removes the movie.
        QTest::keyClick(&w, Qt::Key_Delete);
        QCOMPARE(w.SwfList()->GetItemCount(), 0);
    }

    void fileActionsGoThroughTheShell()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const auto paths = MakeMovies(f.temp, 1);
        w.AddSwfFiles(paths, nullptr);
        w.SwfList()->SelectRow(0, true);
        CSwfEntry* entry = static_cast<CSwfEntry*>(w.SwfList()->GetItemData(0));
        const std::string sound = MakeMovie(f.temp / "s.mp3", 0);
        entry->sounds.push_back({2, 16, 44100, 100, 1, sound});
        w.ShowSounds();
        w.OutputList()->SelectRow(0, true);

        FindAction(w.Menu(0), cmd::PlaySwf)->trigger();
        QCOMPARE(f.shell.played.back(), paths[0]);
        FindAction(w.Menu(0), cmd::BrowseSwfFolder)->trigger();
        QCOMPARE(f.shell.shown.back(), paths[0]);
        FindAction(w.Menu(1), cmd::Play)->trigger();
        QCOMPARE(f.shell.files.back(), sound);
        FindAction(w.Menu(1), cmd::BrowseFolder)->trigger();
        QCOMPARE(f.shell.shown.back(), sound);

        // Double-clicks open the movie and the sound.
        emit w.OutputList()->itemDoubleClicked(w.OutputList()->topLevelItem(0), 0);
        emit w.SwfList()->itemDoubleClicked(w.SwfList()->topLevelItem(0), 0);
        QCOMPARE(f.shell.files.size(), size_t(2));
        QCOMPARE(f.shell.played.size(), size_t(2));

        // A movie deleted after loading is not shown.
        std::filesystem::remove(paths[0]);
        const int shown = static_cast<int>(f.shell.shown.size());
        FindAction(w.Menu(0), cmd::BrowseSwfFolder)->trigger();
        QCOMPARE(static_cast<int>(f.shell.shown.size()), shown);
    }

    void webLinks()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        FindAction(w.Menu(2), cmd::Homepage)->trigger();
        QTest::mouseClick(w.Button(cmd::Homepage), Qt::LeftButton);
        FindAction(w.Menu(2), cmd::CheckVersion)->trigger();
        FindAction(w.Menu(2), cmd::Feedback)->trigger();
        FindAction(w.Menu(2), cmd::TellAFriend)->trigger();
        QCOMPARE(f.shell.opened.size(), size_t(5));
        QCOMPARE(f.shell.opened[0].toString(), Links().homePage);
        QCOMPARE(f.shell.opened[1], f.shell.opened[0]);
        QCOMPARE(f.shell.opened[2].query(), QStringLiteral("Ver=2.3&Build=149"));
        QVERIFY(f.shell.opened[2].toString().startsWith(Links().updateCheck));
        QCOMPARE(f.shell.opened[3].toString(), QStringLiteral("mailto:") + Links().supportMailbox);
        const QUrl tell = f.shell.opened[4];
        QCOMPARE(tell.scheme(), QStringLiteral("mailto"));
        QVERIFY(tell.path().isEmpty());
        const QString query = tell.query(QUrl::FullyDecoded);
        QVERIFY(query.contains(QStringLiteral("subject=Orvellin - very COOL application!!!")));
        QVERIFY(query.contains(QStringLiteral("body=Download from ") + Links().homePage));
    }

    void commandsOfAddressesLeftUnsetAreNotOffered()
    {
        WindowFixture f;
        struct Case {
            WebLinks links;
            QStringList help;  // the help menu's visible items
        } cases[] = {
            {{}, {"&Help Topics\tF1", "-", "&About"}},
            {{QStringLiteral("https://example.org/o/"), {}, {}},
             {"&Help Topics\tF1", "-", "&Tell A Friend", "Home&page", "-", "&About"}},
            {{{}, QStringLiteral("https://example.org/new"), QStringLiteral("o@example.org")},
             {"&Help Topics\tF1", "-", "&Feedback and Support", "&Check Latest Version", "-", "&About"}},
        };
        for (const Case& c : cases) {
            ScopedLinks links(c.links);
            CMainDlg w(f.settings.Services());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.Menu(2)->popup(QPoint(10, 10));
            QStringList visible;
            for (QAction* action : w.Menu(2)->actions()) {
                // Qt draws no separator twice in a row.
                const bool repeated = action->isSeparator() && !visible.isEmpty() && visible.last() == "-";
                if (action->isVisible() && !repeated)
                    visible << (action->isSeparator() ? QStringLiteral("-") : action->text());
            }
            w.Menu(2)->hide();
            QCOMPARE(visible, c.help);
            QCOMPARE(w.Button(cmd::Homepage)->isVisible(), !c.links.homePage.isEmpty());
            // Nor do their commands open anything when asked for by id.
            for (int id : {cmd::Homepage, cmd::TellAFriend, cmd::Feedback, cmd::CheckVersion})
                w.OnCommand(id);
            const size_t expected = (c.links.homePage.isEmpty() ? 0 : 2) + (c.links.updateCheck.isEmpty() ? 0 : 1) +
                                    (c.links.supportMailbox.isEmpty() ? 0 : 1);
            QCOMPARE(f.shell.opened.size(), expected);
            f.shell.opened.clear();
            CAboutDlg about(&w);
            QCOMPARE(about.findChild<QAbstractButton*>(QStringLiteral("homepage")) != nullptr,
                     !c.links.homePage.isEmpty());
            QCOMPARE(about.findChild<QAbstractButton*>(QStringLiteral("feedback")) != nullptr,
                     !c.links.supportMailbox.isEmpty());
        }
    }

    void helpWindowOneAtATime()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QVERIFY(!w.HelpWindow());
        QTest::keyClick(&w, Qt::Key_F1);
        QPointer<CHelpWindow> help = w.HelpWindow();
        QVERIFY(help);
        QCOMPARE(help->windowTitle(), QStringLiteral("Orvellin Help"));
        QVERIFY(help->isVisible());
        QVERIFY(help->Browser()->toPlainText().contains(QStringLiteral("SWF")));
        // The pages link to each other.
        help->Browser()->setSource(QUrl(QStringLiteral("adding.html")));
        QVERIFY(help->Browser()->toPlainText().contains(QStringLiteral("Add Folder")));

        help->showMinimized();
        FindAction(w.Menu(2), cmd::HelpTopics)->trigger();
        QCOMPARE(w.HelpWindow(), help.data());
        QVERIFY(!help->isMinimized());
        int windows = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            windows += top->windowTitle() == QLatin1String("Orvellin Help") && top->isVisible();
        QCOMPARE(windows, 1);

        // The help menu opens under its corner button.
        QTest::mouseClick(w.Button(cmd::HelpMenu), Qt::LeftButton);
        QTRY_VERIFY(w.Menu(2)->isVisible());
        w.Menu(2)->hide();

        w.close();
        QTRY_VERIFY(!help);
    }

    void firstRunOpensHelpOnce()
    {
        TempDir temp;
        ScratchSettings settings(temp.Path());
        MessageRecorder messages;
        {
            CMainDlg window(settings.Services());
            window.show();
            QTRY_VERIFY(window.HelpWindow());
            QCOMPARE(settings.helpOpenings, 1);
            // At its own size, not over the whole screen.
            QVERIFY(!window.HelpWindow()->isMaximized());
            QCOMPARE(settings.Settings().value(QStringLiteral("Options/FirstRun")).toInt(), 0);
            QVERIFY(settings.Settings().contains(QStringLiteral("Options/FirstRun")));
            window.close();
        }
        {
            CMainDlg window(settings.Services());
            window.show();
            QTest::qWait(50);
            QVERIFY(!window.HelpWindow());
            QCOMPARE(settings.helpOpenings, 1);
        }
        settings.Settings().setValue(QStringLiteral("Options/FirstRun"), 5);
        {
            CMainDlg window(settings.Services());
            window.show();
            QTRY_VERIFY(window.HelpWindow());
            QCOMPARE(settings.Settings().value(QStringLiteral("Options/FirstRun")).toInt(), 0);
        }
    }

    void aboutWindow()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QString title;
        QString version;
        bool fixed = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* about = QApplication::activeModalWidget();
            if (!about)
                return;
            title = about->windowTitle();
            fixed = IsFixedDialog(about);
            if (auto* label = about->findChild<QLabel*>(QStringLiteral("version")))
                version = label->text();
            QTest::mouseClick(about->findChild<QAbstractButton*>(QStringLiteral("homepage")), Qt::LeftButton);
            qobject_cast<QDialog*>(about)->accept();
        });
        FindAction(w.Menu(2), cmd::About)->trigger();
        QCOMPARE(title, QStringLiteral("About Orvellin"));
        QVERIFY(fixed);
        QCOMPARE(version, QStringLiteral("Version 2.3 (Build 149)"));
        QCOMPARE(f.shell.opened.back().toString(), Links().homePage);
    }

    void theDesktopsMessageBoxIsAFixedDialog()
    {
        WindowFixture f;
        SetMessageHandler({});
        bool fixed = false;
        QString title;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                fixed = IsFixedDialog(box);
                title = box->windowTitle();
                box->done(QMessageBox::Ok);
            }
        });
        QCOMPARE(ShowMessage(f.window.get(), QStringLiteral("A line of text."), MsgIcon::Information), QMessageBox::Ok);
        QCOMPARE(title, QStringLiteral("Orvellin"));
        QVERIFY(fixed);
    }

    void theDesktopsHelpButtonLeavesTheQuestionOpen()
    {
        WindowFixture f;
        SetMessageHandler({});
        int helps = 0;
        bool stayed = true;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            const QPoint place = box->pos();
            for (int click = 0; click < 2; ++click) {
                QTest::mouseClick(box->button(QMessageBox::Help), Qt::LeftButton);
                stayed = stayed && box->isVisible() && box->pos() == place;
            }
            QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        });
        QCOMPARE(ShowMessage(f.window.get(), QStringLiteral("Go on?"), MsgIcon::Question,
                             QMessageBox::Yes | QMessageBox::No, [&helps] { ++helps; }),
                 QMessageBox::Yes);
        QCOMPARE(helps, 2);
        QVERIFY(stayed);
    }

    void everyButtonIsReachedWithTab()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        w.Button(cmd::AddSwf)->setFocus();
        QTRY_VERIFY(w.Button(cmd::AddSwf)->hasFocus());
        std::set<int> reached;
        for (int step = 0; step < 20; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            for (const auto& [id, button] : {std::pair{cmd::HelpMenu, w.Button(cmd::HelpMenu)},
                                             std::pair{cmd::Minimize, w.Button(cmd::Minimize)},
                                             std::pair{cmd::Close, w.Button(cmd::Close)}}) {
                if (button->hasFocus())
                    reached.insert(id);
            }
        }
        QCOMPARE(reached, (std::set<int>{cmd::HelpMenu, cmd::Minimize, cmd::Close}));
        // Space on the help button opens its menu, which the keys then work.
        w.Button(cmd::HelpMenu)->setFocus();
        QTest::keyClick(w.Button(cmd::HelpMenu), Qt::Key_Space);
        QTRY_VERIFY(w.Menu(2)->isVisible());
        QTest::keyClick(w.Menu(2), Qt::Key_H);  // Help Topics
        QTRY_VERIFY(w.HelpWindow());
        QVERIFY(!w.Menu(2)->isVisible());
        w.HelpWindow()->close();
        // And on the minimise button, it minimises.
        w.activateWindow();
        QTRY_VERIFY(w.isActiveWindow());
        w.Button(cmd::Minimize)->setFocus();
        QTest::keyClick(w.Button(cmd::Minimize), Qt::Key_Space);
        QTRY_VERIFY(w.isMinimized());
    }

    void cornerButtonsMinimiseAndClose()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        QTest::mouseClick(w.Button(cmd::Minimize), Qt::LeftButton);
        QTRY_VERIFY(w.isMinimized());
        w.showNormal();
        QTest::mouseClick(w.Button(cmd::Close), Qt::LeftButton);
        QTRY_VERIFY(!w.isVisible());
    }

    void draggingAFreeSpotMovesTheWindow()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const QPoint start = w.pos();
        const QPoint grab(300, 20);
        const QPoint globalGrab = w.mapToGlobal(grab);
        QMouseEvent press(QEvent::MouseButtonPress, grab, globalGrab, Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&w, &press);
        QMouseEvent move(QEvent::MouseMove, grab + QPoint(40, 30), globalGrab + QPoint(40, 30), Qt::NoButton,
                         Qt::LeftButton, {});
        QCoreApplication::sendEvent(&w, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, grab, globalGrab + QPoint(40, 30), Qt::LeftButton,
                            Qt::NoButton, {});
        QCoreApplication::sendEvent(&w, &release);
        QCOMPARE(w.pos(), start + QPoint(40, 30));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
