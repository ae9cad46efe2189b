// The sortable report list on its own.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include "ui/sort_list.h"

class SortListTest : public QObject {
    Q_OBJECT

private:
    static QStringList Column(const CSortListCtrl& list, int column)
    {
        QStringList texts;
        for (int row = 0; row < list.GetItemCount(); ++row)
            texts << list.GetItemText(row, column);
        return texts;
    }

    static void Fill(CSortListCtrl& list, const std::vector<QStringList>& rows, std::vector<int>& data)
    {
        list.InsertColumn(0, QStringLiteral("A"), 60, Qt::AlignLeft);
        list.InsertColumn(1, QStringLiteral("B"), 60, Qt::AlignRight);
        data.resize(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            data[i] = static_cast<int>(i);
            QCOMPARE(list.InsertItem(rows[i], &data[i]), static_cast<int>(i));
        }
    }

private Q_SLOTS:
    void numbersSortAsText()
    {
        CSortListCtrl list;
        std::vector<int> data;
        Fill(list, {{"x", "10"}, {"y", "9"}, {"z", "100"}}, data);
        list.SortByColumn(1);
        QCOMPARE(Column(list, 1), (QStringList{"10", "100", "9"}));
    }

    void clicksAlternateAndAnotherColumnStartsAscending()
    {
        CSortListCtrl list;
        std::vector<int> data;
        Fill(list, {{"b", "2"}, {"c", "1"}, {"a", "3"}}, data);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy spy(&list, &CSortListCtrl::sorted);
        QHeaderView* header = list.header();
        // The header's arrow: on the sorted column, pointing its way.
        auto arrow = [header] {
            return header->isSortIndicatorShown() ? std::make_pair(header->sortIndicatorSection(),
                                                                   header->sortIndicatorOrder())
                                                  : std::make_pair(-1, Qt::AscendingOrder);
        };
        QCOMPARE(arrow().first, -1);

        auto clickHeader = [header](int column) {
            const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
        };
        clickHeader(0);
        QCOMPARE(Column(list, 0), (QStringList{"a", "b", "c"}));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        QCOMPARE(spy.at(0).at(1).toBool(), true);
        QCOMPARE(arrow(), std::make_pair(0, Qt::AscendingOrder));
        clickHeader(0);
        QCOMPARE(Column(list, 0), (QStringList{"c", "b", "a"}));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(1).toBool(), false);
        QCOMPARE(arrow(), std::make_pair(0, Qt::DescendingOrder));
        clickHeader(0);
        QCOMPARE(Column(list, 0), (QStringList{"a", "b", "c"}));
        clickHeader(0);
        // Column 0 now descending; a click on column 1 sorts it ascending.
        clickHeader(1);
        QCOMPARE(Column(list, 1), (QStringList{"1", "2", "3"}));
        QCOMPARE(list.SortColumn(), 1);
        QVERIFY(list.SortAscending());
        QCOMPARE(arrow(), std::make_pair(1, Qt::AscendingOrder));
        QCOMPARE(spy.count(), 5);
        // Beside the title, not over it.
        QVERIFY(header->style()->styleHint(QStyle::SH_Header_ArrowAlignment, nullptr, header) & Qt::AlignRight);

        // Rows filled in anew have no sort order: the arrow goes, and the
        // next click sorts ascending again.
        list.DeleteAllItems();
        QCOMPARE(arrow().first, -1);
        QCOMPARE(list.SortColumn(), -1);
        Fill(list, {{"b", "2"}, {"a", "1"}}, data);
        clickHeader(1);
        QCOMPARE(arrow(), std::make_pair(1, Qt::AscendingOrder));
    }

    void rowsKeepTheirDataThroughASort()
    {
        CSortListCtrl list;
        std::vector<int> data;
        Fill(list, {{"b", ""}, {"c", ""}, {"a", ""}}, data);
        list.SortByColumn(0);
        QCOMPARE(*static_cast<int*>(list.GetItemData(0)), 2);
        QCOMPARE(*static_cast<int*>(list.GetItemData(1)), 0);
        QCOMPARE(*static_cast<int*>(list.GetItemData(2)), 1);
        QVERIFY(list.GetItemData(3) == nullptr);
        int other = 42;
        QVERIFY(list.SetItemData(1, &other));
        QCOMPARE(list.GetItemData(1), static_cast<void*>(&other));
        QVERIFY(!list.SetItemData(7, &other));
    }

    void caseMattersAndEqualTextsKeepTheirOrder()
    {
        CSortListCtrl list;
        std::vector<int> data;
        Fill(list, {{"same", "1"}, {"Same", "2"}, {"same", "3"}}, data);
        list.SortByColumn(0);
        const QStringList first = Column(list, 0);
        QCOMPARE(first.count(QStringLiteral("same")), 2);
        // The two equal texts stay in the order they had.
        const QStringList numbers = Column(list, 1);
        QVERIFY(numbers.indexOf(QStringLiteral("1")) < numbers.indexOf(QStringLiteral("3")));
        QVERIFY(QString::localeAwareCompare(QStringLiteral("same"), QStringLiteral("Same")) != 0);
    }

    void newRowsAreAppendedUnsorted()
    {
        CSortListCtrl list;
        std::vector<int> data;
        Fill(list, {{"b", ""}, {"a", ""}}, data);
        list.SortByColumn(0);
        int extra = 0;
        QCOMPARE(list.InsertItem({"0", ""}, &extra), 2);
        QCOMPARE(Column(list, 0), (QStringList{"a", "b", "0"}));
    }

    void deletingRowsAndSelection()
    {
        CSortListCtrl list;
        list.setSelectionMode(QAbstractItemView::ExtendedSelection);
        std::vector<int> data;
        Fill(list, {{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}}, data);
        QCOMPARE(list.GetFirstSelected(), -1);
        list.SelectRow(3, false);
        list.SelectRow(1, false);
        QCOMPARE(list.GetSelectedCount(), 2);
        QCOMPARE(list.GetSelectedRows(), (std::vector<int>{1, 3}));
        QCOMPARE(list.GetFirstSelected(), 1);
        QVERIFY(list.DeleteItem(1));
        QVERIFY(!list.DeleteItem(9));
        QCOMPARE(Column(list, 0), (QStringList{"a", "c", "d"}));
        QCOMPARE(list.GetItemData(1), static_cast<void*>(&data[2]));
        list.DeleteAllItems();
        QCOMPARE(list.GetItemCount(), 0);
        QCOMPARE(list.columnCount(), 2);
    }

    void columnsCarryTitlesWidthsAndAlignment()
    {
        CSortListCtrl list;
        std::vector<int> data;
        Fill(list, {{"a", "1"}}, data);
        QCOMPARE(list.headerItem()->text(1), QStringLiteral("B"));
        QCOMPARE(list.columnWidth(0), 60);
        QCOMPARE(list.ColumnAlignment(1), Qt::Alignment(Qt::AlignRight));
        QVERIFY(list.topLevelItem(0)->textAlignment(1) & Qt::AlignRight);
        QVERIFY(list.topLevelItem(0)->textAlignment(0) & Qt::AlignLeft);
    }

    void keyboardMenuOpensAtTheCentre()
    {
        CSortListCtrl list;
        list.resize(200, 100);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy spy(&list, &CSortListCtrl::contextMenuWanted);
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(-1, -1), QPoint(-1, -1));
        QCoreApplication::sendEvent(&list, &event);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toPoint(), list.mapToGlobal(list.rect().center()));
    }
};

QTEST_MAIN(SortListTest)
#include "sort_list_test.moc"
