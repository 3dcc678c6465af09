#include "windows/ReportView.h"

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace kavelo {
namespace {

class ReportRowDelegate : public QStyledItemDelegate {
public:
    ReportRowDelegate(HotTrack hotTrack, QObject* parent)
        : QStyledItemDelegate(parent), hotTrack_(hotTrack) {}

    // Only the first column is renamed in place; the others show their text.
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        if (index.column() != 0)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (hotTrack_ == HotTrack::On && (option->state & QStyle::State_MouseOver))
            option->font.setUnderline(true);
    }

private:
    HotTrack hotTrack_;
};

} // namespace

void setUpReportView(QTreeWidget& view, std::initializer_list<ReportColumn> columns,
                     HotTrack hotTrack)
{
    QStringList captions;
    for (const ReportColumn& column : columns)
        captions.append(column.caption);
    view.setColumnCount(static_cast<int>(captions.size()));
    view.setHeaderLabels(captions);
    int index = 0;
    for (const ReportColumn& column : columns)
        view.setColumnWidth(index++, column.width);
    view.header()->setStretchLastSection(false);
    view.header()->setSectionsMovable(false);
    view.setRootIsDecorated(false);
    view.setItemsExpandable(false);
    view.setUniformRowHeights(true);
    view.setSortingEnabled(false);
    view.setSelectionMode(QAbstractItemView::SingleSelection);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setAllColumnsShowFocus(true);
    view.setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    view.setItemDelegate(new ReportRowDelegate(hotTrack, &view));

    if (hotTrack == HotTrack::On) {
        view.setMouseTracking(true);
        QObject::connect(&view, &QTreeWidget::itemEntered, &view,
                         [&view] { view.viewport()->setCursor(Qt::PointingHandCursor); });
        QObject::connect(&view, &QTreeWidget::viewportEntered, &view,
                         [&view] { view.viewport()->unsetCursor(); });
    }
}

QTreeWidgetItem* appendReportRow(QTreeWidget& view, const QString& first, const QString& second)
{
    auto* item = new QTreeWidgetItem(&view, {first, second});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

} // namespace kavelo
