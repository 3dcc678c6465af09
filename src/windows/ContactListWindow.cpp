#include "windows/ContactListWindow.h"

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

ContactListWindow::ContactListWindow(MainWindowLink& mainWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), mainWindow_(mainWindow), confirm_(askWarningYesNo)
{
    setWindowTitle(QStringLiteral("Contact list"));
    setAccessibleName(windowTitle());

    contactsView = new QTreeWidget(this);
    contactsView->setAccessibleName(QStringLiteral("Contacts"));
    contactsView->setToolTip(QStringLiteral("Double-click on a contact to use his/her IP"));
    setUpReportView(*contactsView, {{QStringLiteral("Contact name"), 120}, {QStringLiteral("IP address"), 120}},
                    HotTrack::On);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(contactsView, 1);
    layout->addWidget(buildBottomPanel());

    // A change of selection reaches the handler once per row it touches: first
    // the row that lost the selection, then the row that gained it.
    connect(contactsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                if (selectionQuiet_)
                    return;
                const auto notify = [this](const QItemSelection& rows, bool isSelected) {
                    for (const QModelIndex& index : rows.indexes()) {
                        if (index.column() != 0)
                            continue;
                        QTreeWidgetItem* item = contactsView->topLevelItem(index.row());
                        guarded([&] { onContactSelected(item, isSelected); });
                    }
                };
                notify(deselected, false);
                notify(selected, true);
            });
    connect(contactsView, &QTreeWidget::itemDoubleClicked, this, [this] { guarded([this] { onContactDoubleClicked(); }); });
    connect(useAddressButton, &QPushButton::clicked, this, [this] { guarded([this] { onContactDoubleClicked(); }); });
    // Enter in either field presses the window's default button.
    connect(nameEdit, &QLineEdit::returnPressed, useAddressButton, &QPushButton::click);
    connect(addressEdit, &QLineEdit::returnPressed, useAddressButton, &QPushButton::click);
    connect(addOrModifyButton, &QToolButton::clicked, this, [this] { guarded([this] { onAddOrModify(); }); });
    connect(deleteButton, &QToolButton::clicked, this, [this] { guarded([this] { onDelete(); }); });
    connect(newButton, &QToolButton::clicked, this, [this] { guarded([this] { onNew(); }); });

    resize(252, 393);
    centerOnScreen(*this);
}

QWidget* ContactListWindow::buildBottomPanel()
{
    auto* panel = new QWidget(this);
    panel->setFixedHeight(kBottomPanelHeight);

    useAddressButton = new QPushButton(QStringLiteral("Use this IP address (call him/her)"), panel);
    useAddressButton->setAccessibleName(useAddressButton->text());
    useAddressButton->setDefault(true);
    nameEdit = labelledField(nameLabel, QStringLiteral("Contact name:"), panel);
    addressEdit = labelledField(addressLabel, QStringLiteral("IP address:"), panel);

    addOrModifyButton = speedButton(QStringLiteral("Add / Modify"), panel);
    QFont bold = addOrModifyButton->font();
    bold.setBold(true);
    addOrModifyButton->setFont(bold);
    QPalette blue = addOrModifyButton->palette();
    blue.setColor(QPalette::ButtonText, Qt::blue);
    addOrModifyButton->setPalette(blue);
    deleteButton = speedButton(QStringLiteral("Delete"), panel);
    newButton = speedButton(QStringLiteral("New"), panel);

    auto* fields = new QGridLayout;
    fields->setSpacing(2);
    fields->addWidget(nameLabel, 0, 0);
    fields->addWidget(nameEdit, 0, 1);
    fields->addWidget(addressLabel, 1, 0);
    fields->addWidget(addressEdit, 1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(addOrModifyButton, 2);
    buttons->addWidget(deleteButton, 1);
    buttons->addWidget(newButton, 1);

    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 3, 4, 3);
    column->setSpacing(3);
    column->addWidget(useAddressButton);
    column->addLayout(fields);
    column->addLayout(buttons);
    return panel;
}

QString ContactListWindow::filePath() const
{
    return contactsFilePath(mainWindow_.programFolder());
}

QList<Contact> ContactListWindow::contacts() const
{
    QList<Contact> rows;
    for (int i = 0; i < contactsView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = contactsView->topLevelItem(i);
        rows.append({item->text(0), item->text(1)});
    }
    return rows;
}

void ContactListWindow::onShown()
{
    contactsView->clear();
    // Rows are appended as they are read, so a read failure keeps what came before it.
    readContactsFile(filePath(), [this](const Contact& contact) {
        appendReportRow(*contactsView, contact.name, contact.address);
        return true;
    });
    nameEdit->clear();
    addressEdit->clear();
    nameEdit->setEnabled(true);
}

void ContactListWindow::onClose()
{
    // An emptied list leaves the file as it was.
    if (contactsView->topLevelItemCount() > 0)
        writeContactsFile(filePath(), contacts());
}

void ContactListWindow::onAddOrModify()
{
    const QString name = nameEdit->text();
    for (int i = 0; i < contactsView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = contactsView->topLevelItem(i);
        if (item->text(0).compare(name, Qt::CaseInsensitive) == 0) {
            item->setText(1, addressEdit->text());
            return;
        }
    }
    appendReportRow(*contactsView, name, addressEdit->text());
}

void ContactListWindow::onNew()
{
    nameEdit->clear();
    addressEdit->clear();
    nameEdit->setEnabled(true);
}

void ContactListWindow::onDelete()
{
    const QList<QTreeWidgetItem*> selected = contactsView->selectedItems();
    if (selected.isEmpty())
        return;
    if (!confirm_(this, QStringLiteral("Are you sure?")))
        return;
    // The list moves its current row to a neighbour; that row is not selected,
    // and the fields keep showing the deleted contact.
    const QScopedValueRollback quiet(selectionQuiet_, true);
    delete selected.first();
    contactsView->clearSelection();
}

void ContactListWindow::onContactSelected(QTreeWidgetItem* item, bool /*selected*/)
{
    nameEdit->setEnabled(false);
    nameEdit->setText(item->text(0));
    addressEdit->setText(item->text(1));
}

void ContactListWindow::onContactDoubleClicked()
{
    const QList<QTreeWidgetItem*> selected = contactsView->selectedItems();
    if (selected.isEmpty())
        return;
    mainWindow_.setAddressField(selected.first()->text(1));
    close();
}

void ContactListWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window restored by the window system was never hidden; only a real
    // showing starts again from the file.
    if (!event->spontaneous())
        guarded([this] { onShown(); });
}

void ContactListWindow::closeEvent(QCloseEvent* event)
{
    bool written = false;
    guarded([&] {
        onClose();
        written = true;
    });
    // A list that could not be saved stays on screen rather than vanish unsaved.
    if (written)
        event->accept();
    else
        event->ignore();
}

} // namespace kavelo
