#include "windows/MissedCallsWindow.h"

#include "windows/AccessibleRoles.h"
#include "windows/ReportView.h"
#include "windows/TimeStamp.h"
#include "windows/WindowPlacement.h"

#include <QDateTime>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kavelo {

MissedCallsWindow::MissedCallsWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    useAccessibleRoles();
    setWindowTitle(QStringLiteral("Missed calls"));
    setAccessibleName(windowTitle());

    missedCallsView = new QTreeWidget(this);
    missedCallsView->setAccessibleName(QStringLiteral("Missed calls list"));
    setUpReportView(*missedCallsView, {{QStringLiteral("Name (IP addr.)"), 100}, {QStringLiteral("Timestamp"), 200}});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(missedCallsView);

    resize(326, 198);
    openBesideOwner(*this);
    closeOnEscape(*this);
}

bool MissedCallsWindow::AddMissedCall(const QString& displayName)
{
    // Renamed rows count with their new text.
    for (int i = 0; i < missedCallsView->topLevelItemCount(); ++i) {
        if (missedCallsView->topLevelItem(i)->text(0).compare(displayName, Qt::CaseInsensitive) == 0)
            return false;
    }
    appendReportRow(*missedCallsView, displayName, dateTimeText(QDateTime::currentDateTime()));
    return true;
}

void MissedCallsWindow::Clear()
{
    missedCallsView->clear();
}

} // namespace kavelo
