#include "ui/merge_dlg.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "merge/merge.h"
#include "ui/command_ids.h"
#include "ui/hooks.h"
#include "ui/shell.h"
#include "ui/sort_list.h"
#include "ui/swf_entry.h"
#include "ui/widgets.h"
#include "util/paths.h"

namespace fs = std::filesystem;

namespace {

// Dialog units of an 8-point Tahoma template at 96 dpi: four per average
// character width (6 px) across, eight per line height (13 px) down.
int DuX(int du)
{
    return (du * 6 + 2) / 4;
}

int DuY(int du)
{
    return (du * 13 + 4) / 8;
}

QRect DuRect(int x, int y, int width, int height)
{
    return {DuX(x), DuY(y), DuX(width), DuY(height)};
}

struct ButtonDef {
    int id;
    const char* text;
    int x;
    int y;
};

// In template order, which is also the tab order.
const ButtonDef kUpperButtons[] = {
    {mergecmd::Merge, "&Merge", 330, 7},      {mergecmd::PlayMp3, "&Play MP3", 330, 33},
    {mergecmd::Up, "&Up", 330, 60},           {mergecmd::Down, "&Down", 330, 76},
    {mergecmd::Remove, "&Remove", 330, 102},  {mergecmd::RemoveAll, "R&emove All", 330, 118},
    {mergecmd::Help, "&Help", 330, 153},
};
const ButtonDef kLowerButtons[] = {
    {mergecmd::AddMp3, "&Add MP3", 330, 187},
    {mergecmd::AddAllMp3, "Add A&ll MP3", 330, 203},
    {mergecmd::PlaySwf, "Play &SWF", 330, 219},
    {mergecmd::Close, "&Close", 330, 253},
};

struct ColumnDef {
    const char* title;
    int width;
    Qt::Alignment alignment;
};

const ColumnDef kMergeColumns[] = {
    {"No.", 35, Qt::AlignLeft},  {"MP3 File", 120, Qt::AlignLeft}, {"Time", 70, Qt::AlignLeft},
    {"Rate", 65, Qt::AlignRight}, {"Type", 60, Qt::AlignLeft},     {"Bits", 40, Qt::AlignRight},
    {"Path", 200, Qt::AlignLeft},
};

const ColumnDef kSwfColumns[] = {
    {"No.", 35, Qt::AlignRight},
    {"SWF File", 120, Qt::AlignLeft},
    {"Sounds", 80, Qt::AlignLeft},
    {"Path", 230, Qt::AlignLeft},
};

const QString kParameterQuestion = QStringLiteral(
    "Some of MP3 files you are going to merge are in different encoding parameters (e.g. sample rate, "
    "channel or bitrate), which could cause playback problem of merged MP3.\n\nStrongly recommend you to "
    "remove the different encoding MP3 files or convert them to same encoding first before merge.\n\n"
    "Do you want to ignore this message and still merge?");

CSortListCtrl* NewList(QWidget* parent, const char* name, const ColumnDef* columns, int count)
{
    auto* list = new CSortListCtrl(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (int i = 0; i < count; ++i)
        list->InsertColumn(i, QString::fromLatin1(columns[i].title), columns[i].width, columns[i].alignment);
    return list;
}

QString FilePartOf(const std::string& path)
{
    return FromPath(std::string(FileNamePart(path)));
}

// A name beside the first input that the checks accept and that replaces
// nothing: the first input's name without its sound number and with
// "_merged" ("intro_merged.mp3"), numbered on when that is taken.
std::string FreeMergeName(const std::string& first, const std::vector<std::string>& inputs)
{
    const std::string_view name = FileNamePart(first);
    const std::string folder = first.substr(0, first.size() - name.size());
    std::string stem(name.substr(0, name.size() - FileExtension(first).size()));
    const size_t mark = stem.find_last_of('_');
    if (mark != std::string::npos && mark + 1 < stem.size() &&
        stem.find_first_not_of("0123456789", mark + 1) == std::string::npos)
        stem.resize(mark);
    constexpr int kTries = 1000;
    for (int k = 1; k <= kTries; ++k) {
        const std::string candidate = folder + stem + "_merged" + (k > 1 ? "_" + std::to_string(k) : "") + ".mp3";
        // Only a name known to be free: one that can't be looked at may be taken.
        std::error_code ec;
        if (fs::symlink_status(candidate, ec).type() == fs::file_type::not_found && !IsOneOfInputs(inputs, candidate))
            return candidate;
    }
    return folder + stem + "_merged.mp3";
}

}  // namespace

CMergeDlg::CMergeDlg(const Entries* entries, QWidget* parent) : QDialog(parent), m_entries(entries)
{
    UseFixedDialogFrame(this);
    setObjectName(QStringLiteral("mergeWindow"));
    setWindowTitle(QStringLiteral("Merge MP3"));
    setFont(WindowFont());
    setFixedSize(DuX(389), DuY(274));
    CreateControls();
    new CWindowDragger(this);

    if (m_entries) {
        for (const std::unique_ptr<CSwfEntry>& entry : *m_entries)
            InsertEntryRow(entry.get());
    }
    for (int id : {mergecmd::Merge, mergecmd::RemoveAll, mergecmd::PlayMp3, mergecmd::Remove, mergecmd::Up,
                   mergecmd::Down})
        Enable(id, false);
    UpdateSwfButtons();
    Enable(mergecmd::AddAllMp3, m_swfList->GetItemCount() > 0);
}

void CMergeDlg::CreateControls()
{
    const auto addButton = [this](const ButtonDef& def) {
        auto* button = new QPushButton(QString::fromLatin1(def.text), this);
        button->setObjectName(QStringLiteral("button%1").arg(def.id));
        // Enter never presses a button of this window.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setGeometry(DuRect(def.x, def.y, 52, 14));
        m_buttons[def.id] = button;
    };

    m_mergeList = NewList(this, "mergeList", kMergeColumns, static_cast<int>(std::size(kMergeColumns)));
    m_mergeList->setGeometry(DuRect(7, 7, 316, 177));
    for (const ButtonDef& def : kUpperButtons)
        addButton(def);
    m_swfList = NewList(this, "swfList", kSwfColumns, static_cast<int>(std::size(kSwfColumns)));
    m_swfList->setGeometry(DuRect(7, 187, 316, 81));
    for (const ButtonDef& def : kLowerButtons)
        addButton(def);

    const std::pair<int, void (CMergeDlg::*)()> handlers[] = {
        {mergecmd::Merge, &CMergeDlg::OnMerge},         {mergecmd::Remove, &CMergeDlg::OnRemove},
        {mergecmd::Up, &CMergeDlg::OnUp},               {mergecmd::Down, &CMergeDlg::OnDown},
        {mergecmd::AddMp3, &CMergeDlg::OnAddMp3},       {mergecmd::AddAllMp3, &CMergeDlg::OnAddAllMp3},
        {mergecmd::RemoveAll, &CMergeDlg::OnRemoveAll}, {mergecmd::PlayMp3, &CMergeDlg::OnPlayMp3},
        {mergecmd::PlaySwf, &CMergeDlg::OnPlaySwf},
    };
    for (const auto& [id, handler] : handlers)
        connect(m_buttons[id], &QPushButton::clicked, this, handler);
    connect(m_buttons[mergecmd::Close], &QPushButton::clicked, this, &QDialog::reject);
    connect(m_buttons[mergecmd::Help], &QPushButton::clicked, this, &CMergeDlg::helpRequested);
    // The main window's F1 is blocked while this window is open.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &CMergeDlg::helpRequested);

    connect(m_mergeList, &QTreeWidget::itemSelectionChanged, this, &CMergeDlg::UpdateMergeButtons);
    connect(m_swfList, &QTreeWidget::itemSelectionChanged, this, &CMergeDlg::UpdateSwfButtons);
    connect(m_mergeList, &CSortListCtrl::rowActivated, this, &CMergeDlg::OnPlayMp3);
    connect(m_swfList, &CSortListCtrl::rowActivated, this, &CMergeDlg::OnPlaySwf);
    // Sorting the merge list changes the merge order; only the sorted list's
    // numbers are out of order.
    for (CSortListCtrl* list : {m_mergeList, m_swfList})
        connect(list, &CSortListCtrl::sorted, this, [list] { list->RenumberRows(0); });
}

QPushButton* CMergeDlg::Button(int id) const
{
    const auto it = m_buttons.find(id);
    return it == m_buttons.end() ? nullptr : it->second;
}

void CMergeDlg::Enable(int id, bool enabled)
{
    if (QPushButton* button = Button(id))
        button->setEnabled(enabled);
}

CSoundElement* CMergeDlg::SoundAt(int row) const
{
    return static_cast<CSoundElement*>(m_mergeList->GetItemData(row));
}

CSwfEntry* CMergeDlg::EntryAt(int row) const
{
    return static_cast<CSwfEntry*>(m_swfList->GetItemData(row));
}

void CMergeDlg::UpdateMergeButtons()
{
    const bool selected = m_mergeList->GetSelectedCount() > 0;
    for (int id : {mergecmd::PlayMp3, mergecmd::Up, mergecmd::Down, mergecmd::Remove})
        Enable(id, selected);
    Enable(mergecmd::RemoveAll, m_mergeList->GetItemCount() > 0);
}

void CMergeDlg::UpdateSwfButtons()
{
    const bool selected = m_swfList->GetSelectedCount() > 0;
    Enable(mergecmd::AddMp3, selected);
    Enable(mergecmd::PlaySwf, selected);
}

// ---------------------------------------------------------------------------
// The two lists.

void CMergeDlg::InsertEntryRow(CSwfEntry* entry)
{
    const int n = m_swfList->GetItemCount();
    m_swfList->InsertItem({QString::number(n + 1), FilePartOf(entry->path),
                           QStringLiteral("%1 Sound(s)").arg(entry->sounds.size()), FromPath(entry->path)},
                          entry);
}

void CMergeDlg::InsertMp3Row(CSoundElement* sound)
{
    const int n = m_mergeList->GetItemCount();
    uint32_t seconds = sound->sampleRate ? sound->sampleCount / sound->sampleRate : 0;
    // A sound shorter than a second still plays for a moment.
    if (seconds == 0)
        seconds = 1;
    // Single precision, so that 22050 Hz reads 22.1 kHz.
    const float kilohertz = static_cast<float>(sound->sampleRate) * 0.001f;
    m_mergeList->InsertItem(
        {
            QString::number(n + 1),
            FilePartOf(sound->path),
            QString::asprintf("%02u:%02u:%02u", seconds / 3600, (seconds % 3600) / 60, seconds % 60),
            QString::asprintf("%.1f kHz", static_cast<double>(kilohertz)),
            sound->channels == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo"),
            QString::number(sound->bits),
            FromPath(sound->path),
        },
        sound);
}

void CMergeDlg::SwapRows(int a, int b)
{
    QTreeWidgetItem* first = m_mergeList->topLevelItem(a);
    QTreeWidgetItem* second = m_mergeList->topLevelItem(b);
    if (!first || !second || a == b)
        return;
    for (int column = 0; column < m_mergeList->columnCount(); ++column) {
        const QString text = first->text(column);
        first->setText(column, second->text(column));
        second->setText(column, text);
    }
    void* data = m_mergeList->GetItemData(a);
    m_mergeList->SetItemData(a, m_mergeList->GetItemData(b));
    m_mergeList->SetItemData(b, data);

    const bool firstSelected = first->isSelected();
    first->setSelected(second->isSelected());
    second->setSelected(firstSelected);
    QTreeWidgetItem* current = m_mergeList->currentItem();
    QItemSelectionModel* selection = m_mergeList->selectionModel();
    if (current == first)
        selection->setCurrentIndex(m_mergeList->model()->index(b, 0), QItemSelectionModel::NoUpdate);
    else if (current == second)
        selection->setCurrentIndex(m_mergeList->model()->index(a, 0), QItemSelectionModel::NoUpdate);
}

// ---------------------------------------------------------------------------
// Filling and ordering the merge list.

void CMergeDlg::AddMp3Rows(const std::vector<int>& swfRows)
{
    CWaitCursor wait;
    int added = 0;
    for (int row : swfRows) {
        CSwfEntry* entry = EntryAt(row);
        if (!entry)
            continue;
        // Listed again even when already there: a file may be merged twice.
        for (CSoundElement& sound : entry->sounds) {
            if (sound.isMp3 == 1) {
                InsertMp3Row(&sound);
                ++added;
            }
        }
    }
    Enable(mergecmd::Merge, m_mergeList->GetItemCount() > 1);
    Enable(mergecmd::RemoveAll, m_mergeList->GetItemCount() > 0);
    if (added == 0) {
        ShowMessage(this, QStringLiteral("There aren't MP3 files to add."), MsgIcon::Information);
        return;
    }
    m_mergeList->setFocus();
}

void CMergeDlg::OnAddMp3()
{
    AddMp3Rows(m_swfList->GetSelectedRows());
}

void CMergeDlg::OnAddAllMp3()
{
    std::vector<int> rows(static_cast<size_t>(m_swfList->GetItemCount()));
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = static_cast<int>(i);
    AddMp3Rows(rows);
}

void CMergeDlg::OnRemove()
{
    const std::vector<int> rows = m_mergeList->GetSelectedRows();
    if (rows.empty())
        return;
    // From the bottom, so the rows still to go keep their positions.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        m_mergeList->DeleteItem(*it);
    m_mergeList->RenumberRows(rows.front());
    if (m_mergeList->GetItemCount() <= 1)
        Enable(mergecmd::Merge, false);
    UpdateMergeButtons();
}

void CMergeDlg::OnRemoveAll()
{
    m_mergeList->DeleteAllItems();
    for (int id : {mergecmd::Merge, mergecmd::PlayMp3, mergecmd::Up, mergecmd::Down, mergecmd::RemoveAll,
                   mergecmd::Remove})
        Enable(id, false);
}

void CMergeDlg::OnUp()
{
    const std::vector<int> rows = m_mergeList->GetSelectedRows();
    // A selection that touches the top does not move at all.
    if (rows.empty() || rows.front() == 0)
        return;
    for (int row : rows)
        SwapRows(row, row - 1);
    const int first = rows.front() - 1;
    m_mergeList->RenumberRows(first);
    m_mergeList->scrollToItem(m_mergeList->topLevelItem(first), QAbstractItemView::EnsureVisible);
    m_mergeList->setFocus();
}

void CMergeDlg::OnDown()
{
    const std::vector<int> rows = m_mergeList->GetSelectedRows();
    if (rows.empty() || rows.back() == m_mergeList->GetItemCount() - 1)
        return;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        SwapRows(*it, *it + 1);
    m_mergeList->RenumberRows(rows.front());
    m_mergeList->scrollToItem(m_mergeList->topLevelItem(rows.back() + 1), QAbstractItemView::EnsureVisible);
    m_mergeList->setFocus();
}

// ---------------------------------------------------------------------------
// Playing.

void CMergeDlg::OnPlayMp3()
{
    const int row = m_mergeList->GetFirstSelected();
    if (row < 0)
        return;
    CWaitCursor wait;
    if (const CSoundElement* sound = SoundAt(row))
        PlaySound(this, sound->path);
}

void CMergeDlg::OnPlaySwf()
{
    const int row = m_swfList->GetFirstSelected();
    if (row < 0)
        return;
    CWaitCursor wait;
    if (const CSwfEntry* entry = EntryAt(row))
        PlayMovie(this, entry->path);
}

// ---------------------------------------------------------------------------
// The merge.

void CMergeDlg::OnMerge()
{
    const int count = m_mergeList->GetItemCount();
    if (count < 2)
        return;
    // The display order is the merge order.
    std::vector<const CSoundElement*> sounds;
    std::vector<std::string> inputs;
    for (int row = 0; row < count; ++row) {
        const CSoundElement* sound = SoundAt(row);
        if (!sound)
            return;
        sounds.push_back(sound);
        inputs.push_back(sound->path);
    }

    const std::string* missing = nullptr;
    {
        CWaitCursor wait;
        for (const std::string& path : inputs) {
            if (!FileExists(path)) {
                missing = &path;
                break;
            }
        }
    }
    if (missing) {
        ShowMessage(this, QStringLiteral("File '%1' don't exist.").arg(FromPath(*missing)), MsgIcon::Exclamation);
        return;
    }

    const CSoundElement& head = *sounds.front();
    for (size_t i = 1; i < sounds.size(); ++i) {
        const CSoundElement& s = *sounds[i];
        if (s.sampleRate == head.sampleRate && s.bits == head.bits && s.channels == head.channels)
            continue;
        // Asked once: a Yes covers every other difference.
        if (ShowMessage(this, kParameterQuestion, MsgIcon::Question, QMessageBox::Yes | QMessageBox::No,
                        [this] { emit helpRequested(); }) != QMessageBox::Yes)
            return;
        break;
    }

    std::string output = FreeMergeName(sounds.front()->path, inputs);
    if (!PromptSaveFileName(this, {QStringLiteral("MP3 File (*.mp3)")}, output, QStringLiteral("mp3")))
        return;
    // Also the same file under another name: writing it would destroy an input.
    if (IsOneOfInputs(inputs, output)) {
        ShowMessage(this, QStringLiteral("Invalid file name. '%1' has existed in MP3 list.").arg(FilePartOf(output)),
                    MsgIcon::Exclamation);
        return;
    }

    bool merged = false;
    {
        CWaitCursor wait;
        merged = MergeFiles(inputs, output);
    }
    if (!merged) {
        ShowMessage(this,
                    QStringLiteral("Failed to merge all MP3 into single one. Maybe disk is full or some MP3 "
                                   "files didn't exist."),
                    MsgIcon::Exclamation);
        return;
    }
    const QString name = FilePartOf(output);
    if (ShowMessage(this,
                    QStringLiteral("Successfully merge %1 MP3 files to '%2'.\n\nDo you want play '%3'?")
                        .arg(count)
                        .arg(name, name),
                    MsgIcon::Information, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        CWaitCursor wait;
        PlaySound(this, output);
    }
}

// ---------------------------------------------------------------------------
// Window events.

void CMergeDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
