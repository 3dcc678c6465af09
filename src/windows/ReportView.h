#pragma once

#include <QString>
#include <initializer_list>

class QTreeWidget;
class QTreeWidgetItem;

namespace kavelo {

struct ReportColumn {
    QString caption;
    int width;
};

enum class HotTrack { Off, On };

// Makes a tree widget a flat list in report view: captioned columns of fixed
// start width, whole rows selected one at a time, no sorting, and in-place
// editing of the first column only (a slow second click on a selected row, or
// F2). With hot tracking the row under the pointer is underlined and shows a
// hand pointer.
void setUpReportView(QTreeWidget& view, std::initializer_list<ReportColumn> columns,
                     HotTrack hotTrack = HotTrack::Off);

// Appends a row whose first column can be renamed in place.
QTreeWidgetItem* appendReportRow(QTreeWidget& view, const QString& first, const QString& second);

} // namespace kavelo
