// The report list of every window: one row per record, the owner's pointer on
// each row, and sorting by a column's text on a header click.
#pragma once

#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <vector>

class CSortListCtrl : public QTreeWidget {
    Q_OBJECT

public:
    explicit CSortListCtrl(QWidget* parent = nullptr);

    void InsertColumn(int column, const QString& title, int width, Qt::Alignment alignment);
    Qt::Alignment ColumnAlignment(int column) const;

    // Appends a row with its texts and the owner's pointer; returns its position.
    int InsertItem(const QStringList& texts, void* data);
    int GetItemCount() const { return topLevelItemCount(); }
    // The owner's pointer, or nullptr when the row does not exist.
    void* GetItemData(int row) const;
    bool SetItemData(int row, void* data);
    QString GetItemText(int row, int column) const;
    bool SetItemText(int row, int column, const QString& text);
    bool DeleteItem(int row);
    void DeleteAllItems();
    // Writes the row numbers (1, 2, ...) into the first column from row first
    // down, after rows moved or went.
    void RenumberRows(int first);

    // -1 when no row is selected.
    int GetFirstSelected() const;
    int GetSelectedCount() const;
    // Selected rows from the top.
    std::vector<int> GetSelectedRows() const;
    // Selects the row (in a single-selection list, only it) and optionally makes it current.
    void SelectRow(int row, bool makeCurrent);

    // Widens the column, if needed, so that text (after a small icon, with
    // withIcon) and the title with its sort arrow fit; returns how many pixels it grew.
    int FitColumn(int column, const QString& text, bool withIcon = false);
    // A note on a cell, for the mouse resting on it; column -1: on every cell of the row.
    void SetItemNote(int row, int column, const QString& note);
    // What the mouse resting on a cell shows: its whole text when the column
    // cuts it off, and its note; "" when neither.
    QString CellToolTip(int row, int column) const;

    // What a click on the column's header does.
    void SortByColumn(int column);
    int SortColumn() const { return m_sortColumn; }
    bool SortAscending() const { return m_sortAscending; }

signals:
    // Once per sort, after the rows moved.
    void sorted(int column, bool ascending);
    // A right click or the menu key; the position is global.
    void contextMenuWanted(const QPoint& globalPos);
    void rowActivated(int row);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    int RowOf(const QTreeWidgetItem* item) const { return indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)); }
    // The width a cell needs to show text whole.
    int CellWidth(const QString& text) const;
    // What a small icon before a cell's text takes of its width.
    int IconRoom() const;

    int m_sortColumn = -1;
    bool m_sortAscending = true;
    std::vector<Qt::Alignment> m_alignments;
};
