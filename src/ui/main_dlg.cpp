#include "ui/main_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>

#include "ui/artwork.h"
#include "ui/command_ids.h"
#include "ui/help_window.h"
#include "ui/hooks.h"
#include "ui/progress_dlg.h"
#include "ui/shell.h"
#include "ui/sort_list.h"
#include "ui/web_links.h"
#include "ui/widgets.h"
#include "util/paths.h"

// Resources compiled into this library must be registered by name, and only
// outside any namespace.
static void InitOrvellinResources()
{
    Q_INIT_RESOURCE(orvellin);
}

// ---------------------------------------------------------------------------
// The command table: every command with its handler and enabling rule. The
// buttons, menu items and shortcuts below name commands by id only.

struct CMainDlg::Command {
    int id;
    void (CMainDlg::*handler)();
    Rule rule;
};

namespace {

using R = CMainDlg::Rule;

struct MenuItem {
    int id;  // 0: separator
    const char* text;
};

// Popup menus: 0 the SWF list's, 1 the output list's, 2 the help menu.
const std::vector<MenuItem> kMenus[3] = {
    {
        {cmd::PlaySwf, "&Play"},
        {cmd::Remove, "&Remove\tDel"},
        {cmd::RemoveAll, "Remove Al&l"},
        {0, nullptr},
        {cmd::ConvertMp3, "&Convert to MP3"},
        {cmd::ConvertWav, "Co&nvert to WAV"},
        {cmd::ConvertFlac, "C&onvert to FLAC"},
        {cmd::ConvertKeep, "&Keep as Stored"},
        {cmd::ConvertAllMp3, "Con&vert All to MP3"},
        {cmd::ConvertAllWav, "Conver&t All to WAV"},
        {cmd::ConvertAllFlac, "Conv&ert All to FLAC"},
        {cmd::ConvertAllKeep, "Keep All as Store&d"},
        {cmd::SaveSoundtrack, "Save Sound&track As..."},
        {0, nullptr},
        {cmd::AddSwf, "&Add SWF Files...\tCtrl+O"},
        {cmd::AddFolder, "Add &Folder..."},
        {0, nullptr},
        {cmd::BrowseSwfFolder, "Browse &SWF Folder..."},
    },
    {
        {cmd::Play, "&Play"},
        {cmd::Delete, "&Delete\tShift+Del"},
        {cmd::SaveAs, "Save &As...\tCtrl+S"},
        {cmd::BrowseFolder, "Browse &Folder..."},
        {0, nullptr},
        {cmd::Merge, "&Merge MP3..."},
    },
    {
        {cmd::HelpTopics, "&Help Topics\tF1"},
        {0, nullptr},
        {cmd::TellAFriend, "&Tell A Friend"},
        {cmd::Feedback, "&Feedback and Support"},
        {cmd::Homepage, "Home&page"},
        {cmd::CheckVersion, "&Check Latest Version"},
        {0, nullptr},
        {cmd::About, "&About"},
    },
};

// The commands whose menu items carry an image, in the order of the image strip.
constexpr int kMenuImages[art::kMenuImageCount] = {
    cmd::PlaySwf, cmd::Remove,        cmd::AddSwf,     cmd::ConvertMp3, cmd::ConvertAllMp3,
    cmd::Play,    cmd::Delete,        cmd::SaveAs,     cmd::NoMenuImage, cmd::HelpTopics,
    cmd::Homepage, cmd::TellAFriend, cmd::Feedback,   cmd::CheckVersion, cmd::About,
};

enum class ButtonKind { Command, Corner, Link };

struct ButtonDef {
    int id;
    ButtonKind kind;
    const char* text;
    const char* tooltip;
    QRect rect;  // in the window's first size: corner buttons keep to the right, the link to the bottom
    int corner;  // image of a corner button
};

const ButtonDef kButtons[] = {
    {cmd::AddSwf, ButtonKind::Command, "&Add SWF", "Add SWF files", {15, 59, 109, 27}, 0},
    {cmd::AddFolder, ButtonKind::Command, "Add &Folder", "Search all SWF files from a folder and add them",
     {15, 104, 109, 27}, 0},
    {cmd::RemoveAll, ButtonKind::Command, "&Remove All", "Remove all SWF files", {15, 150, 109, 27}, 0},
    {cmd::ConvertAllMp3, ButtonKind::Command, "Convert to &MP3", "Convert all SWF files to MP3 files",
     {15, 195, 109, 27}, 0},
    {cmd::ConvertAllWav, ButtonKind::Command, "Convert to &WAV", "Convert all SWF files to WAV files",
     {15, 241, 109, 27}, 0},
    {cmd::Merge, ButtonKind::Command, "Mer&ge MP3", "Merge multiple converted MP3 files into single one",
     {15, 286, 109, 27}, 0},
    // The other types a conversion gives, where a user looks first for them.
    {cmd::ConvertAllFlac, ButtonKind::Command, "Convert to F&LAC", "Convert all SWF files to FLAC files",
     {15, 331, 109, 27}, 0},
    {cmd::ConvertAllKeep, ButtonKind::Command, "&Keep as Stored",
     "Keep the sounds of all SWF files as the movies store them", {15, 376, 109, 27}, 0},
    {cmd::Homepage, ButtonKind::Link, nullptr, "Visit Orvellin Homepage", {14, 497, 113, 20}, 0},
    {cmd::HelpMenu, ButtonKind::Corner, nullptr, "Help", {545, 5, 21, 21}, 0},
    {cmd::Minimize, ButtonKind::Corner, nullptr, "Minimize", {569, 5, 21, 21}, 1},
    {cmd::Close, ButtonKind::Corner, nullptr, "Close", {593, 5, 21, 21}, 2},
};

struct ShortcutDef {
    QKeyCombination keys;
    int id;
};

const ShortcutDef kShortcuts[] = {
    {Qt::CTRL | Qt::Key_O, cmd::AddSwf},
    {Qt::CTRL | Qt::Key_S, cmd::SaveAs},
    {QKeyCombination(Qt::Key_Delete), cmd::Remove},
    {Qt::SHIFT | Qt::Key_Delete, cmd::Delete},
};

struct ColumnDef {
    const char* title;
    int width;
    Qt::Alignment alignment;
    const char* widest;  // the longest text it must show whole, nullptr: none
    bool icon = false;   // with a warning sign before it
};

// The Path column comes last and gives up what the others need beyond their
// widths, down to this.
constexpr int kMinPathWidth = 80;
// The lists' width in the window's first size. As the window grows or
// shrinks, the File columns take or give the difference, down to a minimum.
constexpr int kListWidth = 480;
constexpr int kMinFileWidth = 60;
constexpr int kFileColumn = 1;

// Column widths as they are kept in the settings: "35 125 70 ...". Empty when
// the text is no such list for count columns.
std::vector<int> ParseWidths(const std::string& text, int count)
{
    std::vector<int> widths;
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != count)
        return {};
    for (const QString& part : parts) {
        bool ok = false;
        const int width = part.toInt(&ok);
        if (!ok || width < 4 || width > 4000)
            return {};
        widths.push_back(width);
    }
    return widths;
}

const ColumnDef kSwfColumns[] = {
    {"No.", 35, Qt::AlignLeft, "9999"},
    {"File", 125, Qt::AlignLeft, nullptr},
    {"Status", 70, Qt::AlignRight, "10 of 12 Sound(s)", true},
    {"Ver", 35, Qt::AlignRight, "99"},
    {"Dimension", 65, Qt::AlignLeft, "8191 x 8191"},
    {"Length", 50, Qt::AlignRight, "1092:15"},
    {"Rate", 45, Qt::AlignRight, "120 Hz"},
    {"Frames", 55, Qt::AlignRight, "65535"},
    {"Path", 200, Qt::AlignLeft, nullptr},
};

const ColumnDef kOutputColumns[] = {
    {"No.", 35, Qt::AlignLeft, "9999"},
    {"File", 120, Qt::AlignLeft, nullptr},
    {"Format", 50, Qt::AlignLeft, "FLAC (Nellymoser)"},
    {"Length", 50, Qt::AlignRight, "999:59"},
    {"Bits", 35, Qt::AlignRight, "16"},
    {"Freq.", 60, Qt::AlignRight, "44.1 kHz"},
    {"Ch.", 45, Qt::AlignLeft, "Stereo"},
    {"Path", 200, Qt::AlignLeft, nullptr},
};

// Commands that open an address the build may leave unset are offered only
// where it is set.
bool HasItsAddress(int id)
{
    const WebLinks& links = Links();
    switch (id) {
    case cmd::Homepage:
    case cmd::TellAFriend:
        return !links.homePage.isEmpty();
    case cmd::CheckVersion:
        return !links.updateCheck.isEmpty();
    case cmd::Feedback:
        return !links.supportMailbox.isEmpty();
    default:
        return true;
    }
}

template <size_t N>
void AddColumns(CSortListCtrl* list, const ColumnDef (&columns)[N])
{
    int grown = 0;
    for (int i = 0; i < static_cast<int>(N); ++i) {
        list->InsertColumn(i, QString::fromLatin1(columns[i].title), columns[i].width, columns[i].alignment);
        if (columns[i].widest)
            grown += list->FitColumn(i, QString::fromLatin1(columns[i].widest), columns[i].icon);
    }
    const int path = static_cast<int>(N) - 1;
    list->setColumnWidth(path, std::max(columns[path].width - grown, kMinPathWidth));
}

// Marks a row whose sound did not come out as asked: a warning sign by its
// name and why on every cell. A lost sound has no file to act on: its row is
// greyed and can't be selected.
void MarkRow(CSortListCtrl* list, int row, const QString& note, bool lost)
{
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (!item)
        return;
    list->SetItemNote(row, -1, note);
    item->setIcon(1, list->style()->standardIcon(QStyle::SP_MessageBoxWarning));
    if (!lost)
        return;
    item->setFlags(Qt::ItemIsEnabled);
    for (int column = 0; column < list->columnCount(); ++column)
        item->setForeground(column, list->palette().brush(QPalette::Disabled, QPalette::Text));
}

QString Duration(uint32_t count, uint32_t perSecond)
{
    if (perSecond == 0)
        return QStringLiteral("--:--");
    const uint32_t seconds = count / perSecond;
    return QString::asprintf("%02u:%02u", seconds / 60, seconds % 60);
}

}  // namespace

const CMainDlg::Command* CMainDlg::FindCommand(int id)
{
    static const Command kCommands[] = {
        {cmd::AddSwf, &CMainDlg::OnAddSwf, R::Always},
        {cmd::AddFolder, &CMainDlg::OnAddFolder, R::Always},
        {cmd::Remove, &CMainDlg::OnRemove, R::SwfSelected},
        {cmd::RemoveAll, &CMainDlg::OnRemoveAll, R::SwfRows},
        {cmd::ConvertMp3, &CMainDlg::OnConvertMp3, R::SwfSelected},
        {cmd::ConvertWav, &CMainDlg::OnConvertWav, R::SwfSelected},
        {cmd::ConvertAllMp3, &CMainDlg::OnConvertAllMp3, R::SwfRows},
        {cmd::ConvertAllWav, &CMainDlg::OnConvertAllWav, R::SwfRows},
        {cmd::ConvertFlac, &CMainDlg::OnConvertFlac, R::SwfSelected},
        {cmd::ConvertKeep, &CMainDlg::OnConvertKeep, R::SwfSelected},
        {cmd::ConvertAllFlac, &CMainDlg::OnConvertAllFlac, R::SwfRows},
        {cmd::ConvertAllKeep, &CMainDlg::OnConvertAllKeep, R::SwfRows},
        {cmd::PlaySwf, &CMainDlg::OnPlaySwf, R::OneSwfSelected},
        {cmd::BrowseSwfFolder, &CMainDlg::OnBrowseSwfFolder, R::OneSwfSelected},
        {cmd::SaveSoundtrack, &CMainDlg::OnSaveSoundtrack, R::OneSwfSelected},
        {cmd::Play, &CMainDlg::OnPlay, R::OneSoundSelected},
        {cmd::Delete, &CMainDlg::OnDelete, R::SoundSelected},
        {cmd::SaveAs, &CMainDlg::OnSaveAs, R::OneSoundSelected},
        {cmd::BrowseFolder, &CMainDlg::OnBrowseFolder, R::OneSoundSelected},
        {cmd::Merge, &CMainDlg::OnMerge, R::TwoMp3},
        {cmd::HelpTopics, &CMainDlg::OnHelp, R::Always},
        {cmd::TellAFriend, &CMainDlg::OnTellAFriend, R::Always},
        {cmd::Feedback, &CMainDlg::OnFeedback, R::Always},
        {cmd::Homepage, &CMainDlg::OnHomepage, R::Always},
        {cmd::CheckVersion, &CMainDlg::OnCheckVersion, R::Always},
        {cmd::About, &CMainDlg::OnAbout, R::Always},
        {cmd::HelpMenu, &CMainDlg::OnHelpMenu, R::Always},
        {cmd::Minimize, &CMainDlg::OnMinimize, R::Always},
        {cmd::Close, &CMainDlg::OnClose, R::Always},
    };
    for (const Command& command : kCommands) {
        if (command.id == id)
            return &command;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------

CMainDlg::CMainDlg(const WindowServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint),
      m_services(services)
{
    InitOrvellinResources();
    setObjectName(QStringLiteral("mainWindow"));
    if (m_services.loadFolder)
        m_folder = m_services.loadFolder();

    setWindowIcon(art::AppIcon());
    setWindowTitle(QStringLiteral("Orvellin"));
    setFont(WindowFont());
    CreateControls();
    CreateMenus();
    CreateShortcuts();
    ApplyLayout();
    RestoreLayout();
    setAcceptDrops(true);
    new CWindowDragger(this, true);
}

CMainDlg::~CMainDlg()
{
    delete m_help.data();
    // Rows go before the records they point at.
    m_outputList->DeleteAllItems();
    m_swfList->DeleteAllItems();
    FreeEntries();
}

void CMainDlg::CreateControls()
{
    m_tipStyle = new CTipDelayStyle;
    m_tipStyle->setParent(this);

    m_swfList = new CSortListCtrl(this);
    m_swfList->setObjectName(QStringLiteral("swfList"));
    m_swfList->setSelectionMode(QAbstractItemView::SingleSelection);
    AddColumns(m_swfList, kSwfColumns);
    m_outputList = new CSortListCtrl(this);
    m_outputList->setObjectName(QStringLiteral("outputList"));
    m_outputList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    AddColumns(m_outputList, kOutputColumns);
    for (int i = 0; i < 2; ++i) {
        CSortListCtrl* list = i == 0 ? m_swfList : m_outputList;
        m_fileBase[i] = list->columnWidth(kFileColumn);
        // The width a user gives the File column is the one it has at the
        // first size; what the window grew by comes on top.
        connect(list->header(), &QHeaderView::sectionResized, this, [this, list, i](int column, int, int width) {
            if (column == kFileColumn && !m_fittingColumns)
                m_fileBase[i] = width - (list->width() - kListWidth);
        });
    }

    connect(m_swfList, &QTreeWidget::itemSelectionChanged, this, &CMainDlg::ShowSounds);
    for (CSortListCtrl* list : {m_swfList, m_outputList}) {
        // The list that was sorted is the one whose numbers are out of order.
        connect(list, &CSortListCtrl::sorted, this, [list] { list->RenumberRows(0); });
    }
    connect(m_swfList, &CSortListCtrl::contextMenuWanted, this, [this](const QPoint& pos) { ShowListMenu(0, pos); });
    connect(m_outputList, &CSortListCtrl::contextMenuWanted, this,
            [this](const QPoint& pos) { ShowListMenu(1, pos); });
    connect(m_swfList, &CSortListCtrl::rowActivated, this, [this] { OnCommand(cmd::PlaySwf); });
    connect(m_outputList, &CSortListCtrl::rowActivated, this, [this] { OnCommand(cmd::Play); });

    const QPixmap face = art::ButtonFace(false);
    const QPixmap hotFace = art::ButtonFace(true);
    for (const ButtonDef& def : kButtons) {
        QAbstractButton* button = nullptr;
        if (def.kind == ButtonKind::Link) {
            auto* link = new CLinkButton(this);
            link->setText(Links().HomePageHost());
            link->SetColors(QColor(0, 0, 255), QColor(255, 0, 0));
            link->setVisible(HasItsAddress(def.id));
            button = link;
        } else {
            auto* icon = new CIconButton(this);
            if (def.kind == ButtonKind::Command) {
                icon->SetFaces(face, hotFace);
                icon->setText(QString::fromLatin1(def.text));
                icon->SetTextColor(QColor(53, 53, 53));
            } else {
                icon->SetFaces(art::CornerIcon(def.corner, false), art::CornerIcon(def.corner, true));
                // Reached with Tab like the others, so the help menu needs no mouse.
                icon->SetFocusColor(Qt::white);
            }
            button = icon;
        }
        button->setObjectName(QStringLiteral("button%1").arg(def.id));
        button->setToolTip(QString::fromLatin1(def.tooltip));
        button->setAccessibleName(QString::fromLatin1(def.tooltip));
        button->setStyle(m_tipStyle);
        const int id = def.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
        m_buttons[def.id] = button;
    }
}

void CMainDlg::CreateMenus()
{
    m_popup = new QMenu(this);
    // A flat look for the popups, with the command images beside the items.
    const QString flat = QStringLiteral(
        "QMenu { background: #fbfcfe; border: 1px solid #7a8cab; padding: 2px; }"
        "QMenu::item { padding: 4px 26px 4px 8px; color: #202a3a; }"
        "QMenu::item:selected { background: #ffdfa8; }"
        "QMenu::item:disabled { color: #a0a8b4; }"
        "QMenu::separator { height: 1px; background: #c8d0dc; margin: 3px 4px; }");
    const char* const titles[3] = {"SWF", "Output", "Help"};
    for (int m = 0; m < 3; ++m) {
        QMenu* menu = m_popup->addMenu(QString::fromLatin1(titles[m]));
        menu->setObjectName(QStringLiteral("menu%1").arg(m));
        menu->setStyleSheet(flat);
        for (const MenuItem& item : kMenus[m]) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromLatin1(item.text));
            action->setData(item.id);
            action->setVisible(HasItsAddress(item.id));
            const int* image = std::find(std::begin(kMenuImages), std::end(kMenuImages), item.id);
            if (image != std::end(kMenuImages))
                action->setIcon(QIcon(art::MenuImage(static_cast<int>(image - std::begin(kMenuImages)))));
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        }
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { PrepareMenu(menu); });
        m_menus[m] = menu;
    }
}

void CMainDlg::CreateShortcuts()
{
    for (const ShortcutDef& def : kShortcuts) {
        auto* shortcut = new QShortcut(QKeySequence(def.keys), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int id = def.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] { OnCommand(id); });
    }
    // Help is asked for with F1 from any window of the program.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, [this] { OnCommand(cmd::HelpTopics); });
}

void CMainDlg::ApplyLayout()
{
    setMinimumSize(art::kMinWindowWidth, art::kMinWindowHeight);
    resize(art::kWindowWidth, art::kWindowHeight);
    LayOut();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(art::kWindowWidth / 2, art::kWindowHeight / 2));
}

void CMainDlg::LayOut()
{
    const int width = this->width();
    const int height = this->height();
    // The controls keep their places of the first size relative to the
    // corner they belong to; the lists share what lies between.
    const int grownX = width - art::kWindowWidth;
    const int grownY = height - art::kWindowHeight;
    for (const ButtonDef& def : kButtons) {
        QAbstractButton* button = m_buttons[def.id];
        switch (def.kind) {
        case ButtonKind::Command:
            button->setGeometry(QRect(def.rect.topLeft(), QSize(art::kFaceWidth, art::kFaceHeight)));
            break;
        case ButtonKind::Corner:
            button->setGeometry(def.rect.translated(grownX, 0));
            break;
        case ButtonKind::Link:
            button->setGeometry(def.rect.translated(0, grownY));
            break;
        }
    }
    constexpr int kListsLeft = 138, kListsTop = 57, kRightMargin = 9, kBottomMargin = 8, kGap = 8;
    const int listWidth = width - kListsLeft - kRightMargin;
    const int upperHeight = (height - kListsTop - kBottomMargin - kGap) / 2;
    const int lowerTop = kListsTop + upperHeight + kGap;
    m_swfList->setGeometry(kListsLeft, kListsTop, listWidth, upperHeight);
    m_outputList->setGeometry(kListsLeft, lowerTop, listWidth, height - kBottomMargin - lowerTop);
    FitFileColumns();
    m_background = art::Background(size(), m_swfList->geometry(), m_outputList->geometry(),
                                   HasItsAddress(cmd::Homepage));
    update();
}

void CMainDlg::FitFileColumns()
{
    m_fittingColumns = true;
    for (int i = 0; i < 2; ++i) {
        CSortListCtrl* list = i == 0 ? m_swfList : m_outputList;
        list->setColumnWidth(kFileColumn, std::max(kMinFileWidth, m_fileBase[i] + list->width() - kListWidth));
    }
    m_fittingColumns = false;
}

void CMainDlg::RestoreLayout()
{
    if (!m_services.loadLayout)
        return;
    const QByteArray geometry = QByteArray::fromBase64(QByteArray::fromStdString(m_services.loadLayout("Geometry")));
    // Qt checks the record and keeps the window on a screen that is there now.
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const char* const names[2] = {"SwfColumns", "OutputColumns"};
    for (int i = 0; i < 2; ++i) {
        CSortListCtrl* list = i == 0 ? m_swfList : m_outputList;
        const std::vector<int> widths = ParseWidths(m_services.loadLayout(names[i]), list->columnCount());
        if (widths.empty())
            continue;
        m_fittingColumns = true;
        for (int column = 0; column < list->columnCount(); ++column)
            list->setColumnWidth(column, widths[static_cast<size_t>(column)]);
        m_fittingColumns = false;
        m_fileBase[i] = widths[kFileColumn];
    }
    LayOut();
}

void CMainDlg::SaveLayout()
{
    if (!m_services.saveLayout)
        return;
    m_services.saveLayout("Geometry", saveGeometry().toBase64().toStdString());
    const char* const names[2] = {"SwfColumns", "OutputColumns"};
    for (int i = 0; i < 2; ++i) {
        CSortListCtrl* list = i == 0 ? m_swfList : m_outputList;
        QStringList widths;
        for (int column = 0; column < list->columnCount(); ++column)
            widths << QString::number(column == kFileColumn ? m_fileBase[i] : list->columnWidth(column));
        m_services.saveLayout(names[i], widths.join(QLatin1Char(' ')).toStdString());
    }
}

CHelpWindow* CMainDlg::HelpWindow() const
{
    return m_help.data();
}

QAbstractButton* CMainDlg::Button(int id) const
{
    const auto it = m_buttons.find(id);
    return it == m_buttons.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// Commands and their enabling rules.

void CMainDlg::OnCommand(int id)
{
    if (m_busy || !HasItsAddress(id))
        return;
    if (const Command* command = FindCommand(id))
        (this->*command->handler)();
}

bool CMainDlg::IsCommandEnabled(int id) const
{
    const Command* command = FindCommand(id);
    if (!command)
        return true;
    switch (command->rule) {
    case Rule::Always:
        return true;
    case Rule::SwfSelected:
        return m_swfList->GetSelectedCount() > 0;
    case Rule::SwfRows:
        return m_swfList->GetItemCount() > 0;
    case Rule::OneSwfSelected:
        return m_swfList->GetSelectedCount() == 1;
    case Rule::OneSoundSelected:
        return m_outputList->GetSelectedCount() == 1;
    case Rule::SoundSelected:
        return m_outputList->GetSelectedCount() > 0;
    case Rule::TwoMp3:
        return m_mp3Count > 1;
    }
    return true;
}

void CMainDlg::PrepareMenu(QMenu* menu)
{
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator())
            action->setEnabled(IsCommandEnabled(action->data().toInt()));
    }
}

void CMainDlg::ShowListMenu(int index, const QPoint& globalPos)
{
    m_menus[index]->popup(globalPos);
}

void CMainDlg::OnHelpMenu()
{
    QAbstractButton* button = m_buttons[cmd::HelpMenu];
    m_menus[2]->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void CMainDlg::OnMinimize()
{
    showMinimized();
}

void CMainDlg::OnClose()
{
    close();
}

// ---------------------------------------------------------------------------
// The two lists.

CSwfEntry* CMainDlg::EntryAt(int row) const
{
    return static_cast<CSwfEntry*>(m_swfList->GetItemData(row));
}

void CMainDlg::InsertSwfRow(const std::string& path, const SwfHeaderInfo& info, CSwfEntry* entry)
{
    const int n = m_swfList->GetItemCount();
    const QStringList texts = {
        QString::number(n + 1),
        FromPath(std::string(FileNamePart(path))),
        QString(),
        QString::number(info.version),
        QStringLiteral("%1 x %2").arg(info.width).arg(info.height),
        info.frameRate > 0 ? Duration(static_cast<uint32_t>(info.frameCount), static_cast<uint32_t>(info.frameRate))
                           : QStringLiteral("--:--"),
        QStringLiteral("%1 Hz").arg(info.frameRate),
        QString::number(info.frameCount),
        FromPath(path),
    };
    m_swfList->InsertItem(texts, entry);
}

namespace {

// The file's type, and for sounds a codec decoded, the format they came in.
QString FormatText(const CSoundElement& sound)
{
    const QString type = sound.isMp3 == 1 ? QStringLiteral("MP3")
                         : sound.isFlac   ? QStringLiteral("FLAC")
                                          : QStringLiteral("WAV");
    if (sound.format < 4)
        return type;
    return type + QStringLiteral(" (") + QString::fromUtf8(SoundFormatName(sound.format)) + QStringLiteral(")");
}

}  // namespace

void CMainDlg::InsertSoundRow(CSoundElement* sound)
{
    if (sound->isMp3 == 1)
        ++m_mp3Count;
    const int n = m_outputList->GetItemCount();
    // Single precision, so that 22050 Hz reads 22.1 kHz.
    const float kilohertz = static_cast<float>(sound->sampleRate) * 0.001f;
    const QStringList texts = {
        QString::number(n + 1),
        FromPath(std::string(FileNamePart(sound->path))),
        FormatText(*sound),
        Duration(sound->sampleCount, sound->sampleRate),
        QString::number(sound->bits),
        QString::asprintf("%.1f kHz", static_cast<double>(kilohertz)),
        sound->channels == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo"),
        FromPath(sound->path),
    };
    m_outputList->InsertItem(texts, sound);
}

void CMainDlg::InsertLostRow(const CLostSound& lost)
{
    const int n = m_outputList->GetItemCount();
    const char* format = SoundFormatName(lost.format);
    const float kilohertz = static_cast<float>(lost.rate) * 0.001f;
    const QStringList texts = {
        QString::number(n + 1),
        lost.embeddedMovie >= 0 ? QStringLiteral("Embedded movie %1 (lost)").arg(lost.embeddedMovie)
                                : QStringLiteral("Sound %1 (lost)").arg(lost.number),
        lost.embeddedMovie >= 0 ? QString() : *format ? QString::fromUtf8(format) : QStringLiteral("format %1").arg(lost.format),
        lost.embeddedMovie >= 0 ? QString() : Duration(lost.samples, lost.rate),
        lost.embeddedMovie >= 0 ? QString() : QString::number(lost.bits),
        lost.embeddedMovie >= 0 ? QString() : QString::asprintf("%.1f kHz", static_cast<double>(kilohertz)),
        lost.embeddedMovie >= 0 ? QString() : lost.channels == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo"),
        QString::fromStdString(lost.reason),
    };
    const int row = m_outputList->InsertItem(texts, nullptr);
    MarkRow(m_outputList, row, QString::fromStdString(lost.reason), true);
}

void CMainDlg::ShowSounds()
{
    const int row = m_swfList->GetFirstSelected();
    if (row < 0)
        return;
    CSwfEntry* entry = EntryAt(row);
    ClearOutputList();
    FillOutputList(entry);
}

void CMainDlg::FillOutputList(CSwfEntry* entry)
{
    m_shownEntry = entry;
    if (!entry)
        return;
    for (CSoundElement& sound : entry->sounds) {
        InsertSoundRow(&sound);
        const auto note = entry->notes.find(&sound);
        if (note != entry->notes.end())
            MarkRow(m_outputList, m_outputList->GetItemCount() - 1, QString::fromStdString(note->second), false);
    }
    for (const CLostSound& lost : entry->lost)
        InsertLostRow(lost);
}

void CMainDlg::ClearOutputList()
{
    m_mp3Count = 0;
    m_outputList->DeleteAllItems();
    m_shownEntry = nullptr;
}

void CMainDlg::FreeEntries()
{
    m_shownEntry = nullptr;
    m_entries.clear();
    m_entryKeys.clear();
    m_mp3Count = 0;
}

void CMainDlg::OnRemove()
{
    const int row = m_swfList->GetFirstSelected();
    if (row < 0) {
        ShowMessage(this, QStringLiteral("You should select a SWF file first."), MsgIcon::Information);
        return;
    }
    CSwfEntry* entry = EntryAt(row);
    ClearOutputList();
    m_swfList->DeleteItem(row);
    // Like the removed row, no other row is selected afterwards.
    m_swfList->clearSelection();
    ClearOutputList();
    if (entry) {
        // By the record: the file may have changed or gone since it was added.
        std::erase_if(m_entryKeys, [entry](const auto& key) { return key.second == entry; });
        std::erase_if(m_entries, [entry](const std::unique_ptr<CSwfEntry>& e) { return e.get() == entry; });
    }
    m_swfList->RenumberRows(row);
}

void CMainDlg::OnRemoveAll()
{
    if (m_swfList->GetItemCount() == 0) {
        ShowMessage(this, QStringLiteral("There aren't SWF files in SWF list."), MsgIcon::Information);
        return;
    }
    CWaitCursor wait;
    ClearOutputList();
    m_swfList->DeleteAllItems();
    FreeEntries();
}

void CMainDlg::OnPlaySwf()
{
    const int row = m_swfList->GetFirstSelected();
    if (row < 0)
        return;
    CWaitCursor wait;
    if (const CSwfEntry* entry = EntryAt(row))
        PlayMovie(this, entry->path);
}

void CMainDlg::OnBrowseSwfFolder()
{
    const int row = m_swfList->GetFirstSelected();
    if (row < 0)
        return;
    CWaitCursor wait;
    const CSwfEntry* entry = EntryAt(row);
    if (entry && FileExists(entry->path))
        SelectInExplorer(this, entry->path);
}

// ---------------------------------------------------------------------------
// Window events.

void CMainDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_background);
}

void CMainDlg::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOut();
}

void CMainDlg::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The title band does what a title bar does.
    if (event->button() == Qt::LeftButton && event->position().y() < art::kTitleBandHeight) {
        if (isMaximized())
            showNormal();
        else
            showMaximized();
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void CMainDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();  // the window is closed only on purpose
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void CMainDlg::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_firstShow)
        return;
    m_firstShow = false;
    // After the window is up, so that help opened on a first start lies
    // above it, at its own size rather than over the whole screen.
    QTimer::singleShot(0, this, [this] {
        if (m_services.firstRunStep)
            m_services.firstRunStep([this] { OpenHelp(); });
    });
}

void CMainDlg::closeEvent(QCloseEvent* event)
{
    // A running loop still uses the lists and entries.
    if (m_busy) {
        event->ignore();
        return;
    }
    if (m_help)
        m_help->close();
    SaveLayout();
    ClearOutputList();
    m_swfList->DeleteAllItems();
    FreeEntries();
    event->accept();
}
