#include "windows/Unit3.h"

#include "windows/ReportView.h"
#include "windows/TimeStamp.h"
#include "windows/WindowPlacement.h"

#include <QDateTime>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kavelo {

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Missed calls"));
    setAccessibleName(windowTitle());

    ListView1 = new QTreeWidget(this);
    ListView1->setAccessibleName(QStringLiteral("Missed calls list"));
    setUpReportView(*ListView1, {{QStringLiteral("Name (IP addr.)"), 100}, {QStringLiteral("Timestamp"), 200}});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListView1);

    resize(326, 198);
    centerOnScreen(*this);
}

bool TForm3::AddMissedCall(const QString& displayName)
{
    // Renamed rows count with their new text.
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        if (ListView1->topLevelItem(i)->text(0).compare(displayName, Qt::CaseInsensitive) == 0)
            return false;
    }
    appendReportRow(*ListView1, displayName, dateTimeText(QDateTime::currentDateTime()));
    return true;
}

void TForm3::Clear()
{
    ListView1->clear();
}

} // namespace kavelo
