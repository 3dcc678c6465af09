#include "windows/Unit2.h"

#include "platform/Guarded.h"
#include "windows/MainWindowLink.h"
#include "windows/ReportView.h"
#include "windows/WindowPlacement.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kavelo {
namespace {

constexpr int kBottomPanelHeight = 111;

QToolButton* speedButton(const QString& caption, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setAccessibleName(caption);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

QLineEdit* labelledField(QLabel*& label, const QString& caption, QWidget* parent)
{
    label = new QLabel(caption, parent);
    label->setAccessibleName(caption);
    auto* field = new QLineEdit(parent);
    field->setAccessibleName(caption);
    label->setBuddy(field);
    return field;
}

} // namespace

bool askWarningYesNo(QWidget* parent, const QString& question)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), question, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
}

TForm2::TForm2(MainWindowLink& mainWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), mainWindow_(mainWindow), confirm_(askWarningYesNo)
{
    setWindowTitle(QStringLiteral("Contact list"));
    setAccessibleName(windowTitle());

    ListView1 = new QTreeWidget(this);
    ListView1->setAccessibleName(QStringLiteral("Contacts"));
    ListView1->setToolTip(QStringLiteral("Double-click on a contact to use his/her IP"));
    setUpReportView(*ListView1, {{QStringLiteral("Contact name"), 120}, {QStringLiteral("IP address"), 120}},
                    HotTrack::On);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ListView1, 1);
    layout->addWidget(buildBottomPanel());

    // A change of selection reaches the handler once per row it touches: first
    // the row that lost the selection, then the row that gained it.
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                if (selectionQuiet_)
                    return;
                const auto notify = [this](const QItemSelection& rows, bool isSelected) {
                    for (const QModelIndex& index : rows.indexes()) {
                        if (index.column() != 0)
                            continue;
                        QTreeWidgetItem* item = ListView1->topLevelItem(index.row());
                        guarded([&] { ListView1SelectItem(item, isSelected); });
                    }
                };
                notify(deselected, false);
                notify(selected, true);
            });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { guarded([this] { ListView1DblClick(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { guarded([this] { ListView1DblClick(); }); });
    // Enter in either field presses the window's default button.
    connect(Edit1, &QLineEdit::returnPressed, BitBtn1, &QPushButton::click);
    connect(Edit2, &QLineEdit::returnPressed, BitBtn1, &QPushButton::click);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton1Click(); }); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton3Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton2Click(); }); });

    resize(252, 393);
    centerOnScreen(*this);
}

QWidget* TForm2::buildBottomPanel()
{
    auto* panel = new QWidget(this);
    panel->setFixedHeight(kBottomPanelHeight);

    BitBtn1 = new QPushButton(QStringLiteral("Use this IP address (call him/her)"), panel);
    BitBtn1->setAccessibleName(BitBtn1->text());
    BitBtn1->setDefault(true);
    Edit1 = labelledField(Label1, QStringLiteral("Contact name:"), panel);
    Edit2 = labelledField(Label2, QStringLiteral("IP address:"), panel);

    SpeedButton1 = speedButton(QStringLiteral("Add / Modify"), panel);
    QFont bold = SpeedButton1->font();
    bold.setBold(true);
    SpeedButton1->setFont(bold);
    QPalette blue = SpeedButton1->palette();
    blue.setColor(QPalette::ButtonText, Qt::blue);
    SpeedButton1->setPalette(blue);
    SpeedButton3 = speedButton(QStringLiteral("Delete"), panel);
    SpeedButton2 = speedButton(QStringLiteral("New"), panel);

    auto* fields = new QGridLayout;
    fields->setSpacing(2);
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(Edit1, 0, 1);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(Edit2, 1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(SpeedButton1, 2);
    buttons->addWidget(SpeedButton3, 1);
    buttons->addWidget(SpeedButton2, 1);

    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 3, 4, 3);
    column->setSpacing(3);
    column->addWidget(BitBtn1);
    column->addLayout(fields);
    column->addLayout(buttons);
    return panel;
}

QString TForm2::filePath() const
{
    return contactsFilePath(mainWindow_.programFolder());
}

QList<Contact> TForm2::contacts() const
{
    QList<Contact> rows;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
        rows.append({item->text(0), item->text(1)});
    }
    return rows;
}

void TForm2::FormShow()
{
    ListView1->clear();
    // Rows are appended as they are read, so a read failure keeps what came before it.
    readContactsFile(filePath(), [this](const Contact& contact) {
        appendReportRow(*ListView1, contact.name, contact.address);
        return true;
    });
    Edit1->clear();
    Edit2->clear();
    Edit1->setEnabled(true);
}

void TForm2::FormClose()
{
    // An emptied list leaves the file as it was.
    if (ListView1->topLevelItemCount() > 0)
        writeContactsFile(filePath(), contacts());
}

void TForm2::SpeedButton1Click()
{
    const QString name = Edit1->text();
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView1->topLevelItem(i);
        if (item->text(0).compare(name, Qt::CaseInsensitive) == 0) {
            item->setText(1, Edit2->text());
            return;
        }
    }
    appendReportRow(*ListView1, name, Edit2->text());
}

void TForm2::SpeedButton2Click()
{
    Edit1->clear();
    Edit2->clear();
    Edit1->setEnabled(true);
}

void TForm2::SpeedButton3Click()
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    if (!confirm_(this, QStringLiteral("Are you sure?")))
        return;
    // The list moves its current row to a neighbour; that row is not selected,
    // and the fields keep showing the deleted contact.
    const QScopedValueRollback quiet(selectionQuiet_, true);
    delete selected.first();
    ListView1->clearSelection();
}

void TForm2::ListView1SelectItem(QTreeWidgetItem* item, bool /*selected*/)
{
    Edit1->setEnabled(false);
    Edit1->setText(item->text(0));
    Edit2->setText(item->text(1));
}

void TForm2::ListView1DblClick()
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    mainWindow_.setAddressField(selected.first()->text(1));
    close();
}

void TForm2::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window restored by the window system was never hidden; only a real
    // showing starts again from the file.
    if (!event->spontaneous())
        guarded([this] { FormShow(); });
}

void TForm2::closeEvent(QCloseEvent* event)
{
    bool written = false;
    guarded([&] {
        FormClose();
        written = true;
    });
    // A list that could not be saved stays on screen rather than vanish unsaved.
    if (written)
        event->accept();
    else
        event->ignore();
}

} // namespace kavelo
