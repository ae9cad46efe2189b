// The "Merge MP3" window: the movies of the main window below, the MP3 files
// to join above, in merge order.
#pragma once

#include "ui/widgets.h"

#include <QDialog>
#include <QPoint>
#include <map>
#include <memory>
#include <vector>

struct CSoundElement;
struct CSwfEntry;
class CSortListCtrl;
class QPushButton;

class CMergeDlg : public QDialog {
    Q_OBJECT

public:
    using Entries = std::vector<std::unique_ptr<CSwfEntry>>;

    // Reads the entries (the main window's, in the order they were added) and
    // never changes them; they must outlive the window.
    explicit CMergeDlg(const Entries* entries, QWidget* parent = nullptr);

    void InsertEntryRow(CSwfEntry* entry);
    void InsertMp3Row(CSoundElement* sound);
    // Exchanges two rows of the merge list: texts, selection and records.
    void SwapRows(int a, int b);

    // Command handlers, as the buttons run them.
    void OnMerge();
    void OnRemove();
    void OnRemoveAll();
    void OnUp();
    void OnDown();
    void OnAddMp3();
    void OnAddAllMp3();
    void OnPlayMp3();
    void OnPlaySwf();

    // What tests look at.
    CSortListCtrl* SwfList() const { return m_swfList; }
    CSortListCtrl* MergeList() const { return m_mergeList; }
    QPushButton* Button(int id) const;

    // Enter does not close the window; only Esc, Close and the close box do.
    void accept() override {}

signals:
    // Help or F1: the main window shows its help on merging.
    void helpRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void AddMp3Rows(const std::vector<int>& swfRows);
    void UpdateMergeButtons();
    void UpdateSwfButtons();
    void Enable(int id, bool enabled);
    CSoundElement* SoundAt(int row) const;
    CSwfEntry* EntryAt(int row) const;

    CSortListCtrl* m_swfList = nullptr;
    CSortListCtrl* m_mergeList = nullptr;
    const Entries* m_entries = nullptr;
    std::map<int, QPushButton*> m_buttons;
};
