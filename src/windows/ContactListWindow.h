#pragma once

#include "store/ContactsFile.h"

#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kavelo {

class MainWindowLink;

// The contact list window: named peer addresses kept in contacts.vip. Every
// showing reads the file anew, every close writes the list back (when it has
// rows), and a chosen contact's address goes to the main window's address field.
class ContactListWindow : public QWidget {
    Q_OBJECT
public:
    // Asks a yes/no question in a modal box; answers true for yes.
    using Confirmation = std::function<bool(QWidget* parent, const QString& question)>;

    explicit ContactListWindow(MainWindowLink& mainWindow, QWidget* parent = nullptr);

    // Replaces the "Are you sure?" box (tests answer without a modal loop).
    void setConfirmation(Confirmation confirmation) { confirm_ = std::move(confirmation); }

    // The list's rows in order, as contacts.vip would hold them.
    QList<Contact> contacts() const;

    // Handlers; a failure is thrown and ends the handler where it happened.
    void onShown();
    void onClose();
    void onAddOrModify();
    void onNew();
    void onDelete();
    void onContactSelected(QTreeWidgetItem* item, bool selected);
    void onContactDoubleClicked();
    // A name renamed in place that contacts.vip cannot hold goes back to the
    // name the row had, and the user is told why.
    void onContactRenamed(QTreeWidgetItem* item);

    QTreeWidget* contactsView;
    QPushButton* useAddressButton;
    QLabel* nameLabel;
    QLineEdit* nameEdit;
    QLabel* addressLabel;
    QLineEdit* addressEdit;
    QToolButton* addOrModifyButton;
    QToolButton* deleteButton;
    QToolButton* newButton;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildBottomPanel();
    QString filePath() const;
    QTreeWidgetItem* appendContact(const QString& name, const QString& address);
    void keepName(QTreeWidgetItem* item);

    MainWindowLink& mainWindow_;
    Confirmation confirm_;
    bool selectionQuiet_ = false;
    bool renameQuiet_ = false;
};

// The standard warning box: title "Warning", warning icon, "&Yes" and "&No".
bool askWarningYesNo(QWidget* parent, const QString& question);

} // namespace kavelo
