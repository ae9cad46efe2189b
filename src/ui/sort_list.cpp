#include "ui/sort_list.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QProxyStyle>
#include <QStyleOptionHeader>
#include <QToolTip>
#include <algorithm>

namespace {

constexpr int kDataRole = Qt::UserRole + 1;
constexpr int kNoteRole = Qt::UserRole + 2;
// Only this many characters of a cell take part in a comparison.
constexpr int kCompareLength = 259;

class SortItem final : public QTreeWidgetItem {
public:
    explicit SortItem(const QStringList& texts) : QTreeWidgetItem(texts) {}

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        // By the user's locale and case-sensitive; numbers compare as text.
        return QString::localeAwareCompare(text(column).left(kCompareLength),
                                           other.text(column).left(kCompareLength)) < 0;
    }
};

// The header's sort arrow: beside the title rather than over it, pointing up
// for an ascending sort as file managers do. Qt's header hands the style the
// opposite direction (SortDown for ascending), which Fusion and the Windows
// styles draw as given.
class HeaderStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_Header_ArrowAlignment)
            return Qt::AlignRight | Qt::AlignVCenter;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
        if (element == PE_IndicatorHeaderArrow && header && !SortsUpward()) {
            QStyleOptionHeader flipped = *header;
            if (header->sortIndicator == QStyleOptionHeader::SortDown)
                flipped.sortIndicator = QStyleOptionHeader::SortUp;
            else if (header->sortIndicator == QStyleOptionHeader::SortUp)
                flipped.sortIndicator = QStyleOptionHeader::SortDown;
            QProxyStyle::drawPrimitive(element, &flipped, painter, widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

private:
    // Breeze already draws an ascending sort pointing up.
    bool SortsUpward() const
    {
        return baseStyle()->name().compare(QLatin1String("breeze"), Qt::CaseInsensitive) == 0;
    }
};

// Room the arrow takes beside a title.
constexpr int kArrowRoom = 16;

}  // namespace

CSortListCtrl::CSortListCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);  // new rows stay where they are appended
    setColumnCount(0);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setSortIndicatorShown(false);  // until the first sort
    auto* headerStyle = new HeaderStyle;
    headerStyle->setParent(header());
    header()->setStyle(headerStyle);
    connect(header(), &QHeaderView::sectionClicked, this, &CSortListCtrl::SortByColumn);
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { emit rowActivated(RowOf(item)); });
}

void CSortListCtrl::InsertColumn(int column, const QString& title, int width, Qt::Alignment alignment)
{
    if (column >= columnCount())
        setColumnCount(column + 1);
    if (static_cast<int>(m_alignments.size()) <= column)
        m_alignments.resize(column + 1, Qt::AlignLeft);
    m_alignments[column] = alignment;
    headerItem()->setText(column, title);
    headerItem()->setTextAlignment(column, alignment | Qt::AlignVCenter);
    setColumnWidth(column, width);
}

Qt::Alignment CSortListCtrl::ColumnAlignment(int column) const
{
    return column >= 0 && column < static_cast<int>(m_alignments.size()) ? m_alignments[column]
                                                                          : Qt::Alignment(Qt::AlignLeft);
}

int CSortListCtrl::InsertItem(const QStringList& texts, void* data)
{
    auto* item = new SortItem(texts);
    for (int column = 0; column < columnCount(); ++column)
        item->setTextAlignment(column, ColumnAlignment(column) | Qt::AlignVCenter);
    item->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
    addTopLevelItem(item);
    return topLevelItemCount() - 1;
}

void* CSortListCtrl::GetItemData(int row) const
{
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? reinterpret_cast<void*>(item->data(0, kDataRole).value<quintptr>()) : nullptr;
}

bool CSortListCtrl::SetItemData(int row, void* data)
{
    QTreeWidgetItem* item = topLevelItem(row);
    if (!item)
        return false;
    item->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
    return true;
}

QString CSortListCtrl::GetItemText(int row, int column) const
{
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(column) : QString();
}

bool CSortListCtrl::SetItemText(int row, int column, const QString& text)
{
    QTreeWidgetItem* item = topLevelItem(row);
    if (!item)
        return false;
    item->setText(column, text);
    return true;
}

bool CSortListCtrl::DeleteItem(int row)
{
    QTreeWidgetItem* item = takeTopLevelItem(row);
    delete item;
    return item != nullptr;
}

void CSortListCtrl::DeleteAllItems()
{
    clear();
    // New rows come in their own order, which no arrow describes.
    m_sortColumn = -1;
    m_sortAscending = true;
    header()->setSortIndicatorShown(false);
}

int CSortListCtrl::CellWidth(const QString& text) const
{
    // The margin an item view leaves on each side of a cell's text.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return fontMetrics().horizontalAdvance(text) + 2 * margin + 2;
}

int CSortListCtrl::IconRoom() const
{
    return style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this) + 4;
}

int CSortListCtrl::FitColumn(int column, const QString& text, bool withIcon)
{
    const int title = header()->fontMetrics().horizontalAdvance(headerItem()->text(column)) + 2 * 4 + kArrowRoom;
    const int needed = std::max(CellWidth(text) + (withIcon ? IconRoom() : 0), title);
    const int grown = std::max(needed - columnWidth(column), 0);
    if (grown > 0)
        setColumnWidth(column, columnWidth(column) + grown);
    return grown;
}

void CSortListCtrl::SetItemNote(int row, int column, const QString& note)
{
    QTreeWidgetItem* item = topLevelItem(row);
    if (!item)
        return;
    for (int c = 0; c < columnCount(); ++c) {
        if (column < 0 || c == column)
            item->setData(c, kNoteRole, note);
    }
}

QString CSortListCtrl::CellToolTip(int row, int column) const
{
    const QTreeWidgetItem* item = topLevelItem(row);
    if (!item || column < 0 || column >= columnCount())
        return {};
    const QString text = item->text(column);
    const QString note = item->data(column, kNoteRole).toString();
    const int iconRoom = item->icon(column).isNull() ? 0 : IconRoom();
    const QString whole = CellWidth(text) + iconRoom > columnWidth(column) ? text : QString();
    if (whole.isEmpty() || note.isEmpty())
        return whole + note;
    return whole + QLatin1Char('\n') + note;
}

bool CSortListCtrl::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString tip = index.isValid() ? CellToolTip(index.row(), index.column()) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
        return true;
    }
    return QTreeWidget::viewportEvent(event);
}

void CSortListCtrl::RenumberRows(int first)
{
    for (int row = std::max(first, 0); row < GetItemCount(); ++row)
        SetItemText(row, 0, QString::number(row + 1));
}

int CSortListCtrl::GetFirstSelected() const
{
    const std::vector<int> rows = GetSelectedRows();
    return rows.empty() ? -1 : rows.front();
}

int CSortListCtrl::GetSelectedCount() const
{
    return static_cast<int>(selectionModel()->selectedRows().size());
}

std::vector<int> CSortListCtrl::GetSelectedRows() const
{
    std::vector<int> rows;
    const QModelIndexList selected = selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex& index : selected)
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CSortListCtrl::SelectRow(int row, bool makeCurrent)
{
    QTreeWidgetItem* item = topLevelItem(row);
    if (!item)
        return;
    if (makeCurrent)
        setCurrentItem(item);
    else
        item->setSelected(true);
}

void CSortListCtrl::SortByColumn(int column)
{
    if (column < 0 || column >= columnCount())
        return;
    m_sortAscending = column == m_sortColumn ? !m_sortAscending : true;
    m_sortColumn = column;
    const Qt::SortOrder order = m_sortAscending ? Qt::AscendingOrder : Qt::DescendingOrder;
    sortItems(column, order);
    // The arrow shows on the column last sorted, pointing its way.
    header()->setSortIndicator(column, order);
    header()->setSortIndicatorShown(true);
    emit sorted(column, m_sortAscending);
}

void CSortListCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the menu opens at the centre of the list.
    const QPoint pos = event->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(rect().center())
                                                                      : event->globalPos();
    emit contextMenuWanted(pos);
    event->accept();
}
