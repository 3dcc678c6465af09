#include "windows/ContactListWindow.h"

#include "platform/Guarded.h"
#include "platform/MessageBox.h"
#include "windows/AccessibleRoles.h"
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
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kavelo {
namespace {

constexpr int kBottomPanelHeight = 111;

// Where a row keeps its last accepted name, to go back to when a rename in
// place is refused.
constexpr int kKeptNameRole = Qt::UserRole;

// A character as the user can find it in the text: itself in quotes when it
// can be seen, and always its code point, as controls and spaces look alike.
QString describeCharacter(const QString& character)
{
    const char32_t code = character.toUcs4().value(0);
    const QString point = QStringLiteral("U+%1").arg(static_cast<uint>(code), 4, 16, QLatin1Char('0')).toUpper();
    if (character.at(0).isPrint() || character.size() == 2)
        return QStringLiteral("\"%1\" (%2)").arg(character, point);
    return point;
}

// One line of the refusal: the field's caption and the characters it cannot keep.
QString refusedLine(const QString& field, const QStringList& characters)
{
    QStringList described;
    for (const QString& character : characters)
        described.append(describeCharacter(character));
    return field + QStringLiteral(" ") + described.join(QStringLiteral(", "));
}

QString refusal(const QString& lines, const QString& outcome)
{
    return QStringLiteral("This contact cannot be stored: the contact list cannot keep these characters.\n")
        + lines + QStringLiteral("\nPlease replace them. ") + outcome;
}

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
    useAccessibleRoles();
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
    connect(contactsView, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0 && !renameQuiet_)
            guarded([&] { onContactRenamed(item); });
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
    openBesideOwner(*this);
    closeOnEscape(*this);
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

QTreeWidgetItem* ContactListWindow::appendContact(const QString& name, const QString& address)
{
    QTreeWidgetItem* item = appendReportRow(*contactsView, name, address);
    keepName(item);
    return item;
}

void ContactListWindow::keepName(QTreeWidgetItem* item)
{
    const QScopedValueRollback quiet(renameQuiet_, true);
    item->setData(0, kKeptNameRole, item->text(0));
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
        appendContact(contact.name, contact.address);
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
    // Refused here, before the list changes: written out, such characters
    // would come back as "?" or split the contact at the next reading.
    const QStringList badInName = charactersContactsCannotHold(name);
    const QStringList badInAddress = charactersContactsCannotHold(addressEdit->text());
    if (!badInName.isEmpty() || !badInAddress.isEmpty()) {
        QStringList lines;
        if (!badInName.isEmpty())
            lines.append(refusedLine(nameLabel->text(), badInName));
        if (!badInAddress.isEmpty())
            lines.append(refusedLine(addressLabel->text(), badInAddress));
        showMessage(refusal(lines.join(QLatin1Char('\n')), QStringLiteral("The list was not changed.")));
        return;
    }
    for (int i = 0; i < contactsView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = contactsView->topLevelItem(i);
        if (item->text(0).compare(name, Qt::CaseInsensitive) == 0) {
            item->setText(1, addressEdit->text());
            return;
        }
    }
    appendContact(name, addressEdit->text());
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

void ContactListWindow::onContactRenamed(QTreeWidgetItem* item)
{
    const QStringList bad = charactersContactsCannotHold(item->text(0));
    if (bad.isEmpty()) {
        keepName(item);
        return;
    }
    {
        const QScopedValueRollback quiet(renameQuiet_, true);
        item->setText(0, item->data(0, kKeptNameRole).toString());
    }
    // The rename arrives while the in-place editor hands its text over; the
    // box waits until the editor has closed, so that it cannot commit again.
    QTimer::singleShot(0, this, [message = refusal(refusedLine(nameLabel->text(), bad),
                                                   QStringLiteral("The name was not changed."))] {
        guarded([&] { showMessage(message); });
    });
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
