#include "FakeMainWindow.h"
#include "support/FileSizeLimit.h"
#include "support/TestSupport.h"
#include "windows/ContactListWindow.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <string>

namespace kavelo {
namespace {

const QByteArray kThree = "Ann|10.0.0.1\r\nBob|10.0.0.2\r\nJ\xf6rg|10.0.0.3\r\n";

class ContactListWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        form.setConfirmation([this](QWidget*, const QString& question) {
            questions.append(question);
            return answer;
        });
    }

    QString path() const { return main.programFolder() + "contacts.vip"; }
    void putFile(const QByteArray& bytes)
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray fileBytes() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
    QStringList names() const
    {
        QStringList result;
        for (const Contact& c : form.contacts())
            result.append(c.name);
        return result;
    }
    QTreeWidgetItem* row(int i) const { return form.contactsView->topLevelItem(i); }
    void select(int i) { form.contactsView->setCurrentItem(row(i)); }
    void showWith(const QByteArray& bytes)
    {
        putFile(bytes);
        form.show();
    }

    QTemporaryDir dir;
    test::FakeMainWindow main{dir.path() + u'/'};
    ContactListWindow form{main};
    QStringList questions;
    bool answer = true;
};

TEST_F(ContactListWindowTest, LooksAsDesigned)
{
    EXPECT_EQ(form.windowTitle(), "Contact list");
    EXPECT_EQ(form.size(), QSize(252, 393));
    EXPECT_EQ(form.contactsView->headerItem()->text(0), "Contact name");
    EXPECT_EQ(form.contactsView->headerItem()->text(1), "IP address");
    EXPECT_EQ(form.contactsView->columnWidth(0), 120);
    EXPECT_EQ(form.contactsView->columnWidth(1), 120);
    EXPECT_EQ(form.contactsView->toolTip(), "Double-click on a contact to use his/her IP");
    EXPECT_EQ(form.contactsView->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(form.contactsView->isSortingEnabled());
    // Accessible names are what whole-program tests find the controls by.
    EXPECT_EQ(form.useAddressButton->accessibleName(), "Use this IP address (call him/her)");
    EXPECT_EQ(form.nameEdit->accessibleName(), "Contact name:");
    EXPECT_EQ(form.addressEdit->accessibleName(), "IP address:");
    EXPECT_EQ(form.addOrModifyButton->accessibleName(), "Add / Modify");
    EXPECT_EQ(form.deleteButton->accessibleName(), "Delete");
    EXPECT_EQ(form.newButton->accessibleName(), "New");
    EXPECT_TRUE(form.addOrModifyButton->font().bold());
    EXPECT_EQ(form.addOrModifyButton->palette().color(QPalette::ButtonText), QColor(Qt::blue));
}

TEST_F(ContactListWindowTest, ShowingReadsTheFileAndStartsWithEmptyEnabledFields)
{
    showWith(kThree);
    EXPECT_EQ(names(), (QStringList{"Ann", "Bob", QStringLiteral("Jörg")}));
    EXPECT_EQ(row(2)->text(1), "10.0.0.3");
    EXPECT_TRUE(form.nameEdit->text().isEmpty());
    EXPECT_TRUE(form.addressEdit->text().isEmpty());
    EXPECT_TRUE(form.nameEdit->isEnabled());
}

TEST_F(ContactListWindowTest, AMissingFileGivesAnEmptyListWithoutAMessage)
{
    form.show();
    EXPECT_EQ(form.contactsView->topLevelItemCount(), 0);
}

TEST_F(ContactListWindowTest, ShowingAVisibleWindowDoesNotReadAgainButAHiddenOneDoes)
{
    showWith(kThree);
    select(0);
    putFile("Zed|9\r\n");
    form.show();
    form.raise();
    EXPECT_EQ(names().size(), 3);
    EXPECT_EQ(form.nameEdit->text(), "Ann") << "fields untouched";

    form.hide();
    form.show();
    EXPECT_EQ(names(), QStringList{"Zed"});
    EXPECT_TRUE(form.nameEdit->isEnabled());
    EXPECT_TRUE(form.addressEdit->text().isEmpty());
}

TEST_F(ContactListWindowTest, ClosingWritesTheListInOrder)
{
    showWith(kThree);
    form.nameEdit->setText("Cleo");
    form.addressEdit->setText("10.0.0.4");
    form.addOrModifyButton->click();
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(fileBytes(), kThree + "Cleo|10.0.0.4\r\n");
}

TEST_F(ContactListWindowTest, DeletingEveryContactLeavesTheFileAsItWas)
{
    showWith(kThree);
    while (form.contactsView->topLevelItemCount() > 0) {
        select(0);
        form.deleteButton->click();
    }
    EXPECT_EQ(questions, QStringList(3, "Are you sure?"));
    EXPECT_TRUE(form.close());
    EXPECT_EQ(fileBytes(), kThree);
    form.show();
    EXPECT_EQ(names().size(), 3) << "the deleted contacts are back";
}

TEST_F(ContactListWindowTest, DeleteKeepsTheFieldsSoAddModifyBringsTheContactBack)
{
    showWith(kThree);
    select(0);
    form.deleteButton->click();
    EXPECT_EQ(names(), (QStringList{"Bob", QStringLiteral("Jörg")}));
    EXPECT_TRUE(form.contactsView->selectedItems().isEmpty());
    EXPECT_EQ(form.nameEdit->text(), "Ann");
    EXPECT_EQ(form.addressEdit->text(), "10.0.0.1");
    EXPECT_FALSE(form.nameEdit->isEnabled());

    form.addOrModifyButton->click();
    EXPECT_EQ(names(), (QStringList{"Bob", QStringLiteral("Jörg"), "Ann"}));
}

TEST_F(ContactListWindowTest, DeleteAnsweredNoOrWithoutSelectionRemovesNothing)
{
    showWith(kThree);
    form.deleteButton->click();
    EXPECT_TRUE(questions.isEmpty()) << "nothing selected, nothing asked";
    select(1);
    answer = false;
    form.deleteButton->click();
    EXPECT_EQ(questions.size(), 1);
    EXPECT_EQ(names().size(), 3);
}

TEST(ContactListWarningBox, AsksInAModalWarningWithYesAndNo)
{
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = true;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            buttons.append(b->text());
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "&No")
                b->click();
    });
    EXPECT_FALSE(askWarningYesNo(nullptr, "Are you sure?"));
    ASSERT_TRUE(seen);
    EXPECT_EQ(title, "Warning");
    EXPECT_EQ(text, "Are you sure?");
    EXPECT_EQ(icon, QMessageBox::Warning);
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"&No", "&Yes"}));
}

TEST_F(ContactListWindowTest, AddModifyMatchesNamesIgnoringCaseAndKeepsTheRowsOwnCase)
{
    showWith(kThree);
    form.nameEdit->setText("bOB");
    form.addressEdit->setText("10.9.9.9");
    form.addOrModifyButton->click();
    EXPECT_EQ(names(), (QStringList{"Ann", "Bob", QStringLiteral("Jörg")}));
    EXPECT_EQ(row(1)->text(1), "10.9.9.9");

    form.nameEdit->setText(QStringLiteral("JÖRG"));
    form.addressEdit->setText("1");
    form.addOrModifyButton->click();
    EXPECT_EQ(row(2)->text(1), "1") << "letter case ignored beyond ASCII too";
    EXPECT_EQ(names().size(), 3);
}

TEST_F(ContactListWindowTest, AddModifyWithEmptyFieldsAddsAnEmptyContactThenEmptiesItsAddress)
{
    showWith("x|1\r\n");
    form.addOrModifyButton->click();
    EXPECT_EQ(form.contacts(), (QList<Contact>{{"x", "1"}, {}}));
    row(1)->setText(1, "5.5.5.5");
    form.addOrModifyButton->click();
    EXPECT_EQ(form.contacts(), (QList<Contact>{{"x", "1"}, {}}));
}

TEST_F(ContactListWindowTest, SelectionFillsTheFieldsAndLockTheName)
{
    showWith(kThree);
    select(1);
    EXPECT_EQ(form.nameEdit->text(), "Bob");
    EXPECT_EQ(form.addressEdit->text(), "10.0.0.2");
    EXPECT_FALSE(form.nameEdit->isEnabled());
    select(0);
    EXPECT_EQ(form.nameEdit->text(), "Ann");

    // Clicking an empty part of the list drops the selection; the fields keep
    // showing the row that lost it.
    form.addressEdit->setText("typed");
    form.contactsView->clearSelection();
    EXPECT_TRUE(form.contactsView->selectedItems().isEmpty());
    EXPECT_EQ(form.nameEdit->text(), "Ann");
    EXPECT_EQ(form.addressEdit->text(), "10.0.0.1");
    EXPECT_FALSE(form.nameEdit->isEnabled());
}

TEST_F(ContactListWindowTest, NewEmptiesTheFieldsAndKeepsTheSelection)
{
    showWith(kThree);
    select(2);
    form.newButton->click();
    EXPECT_TRUE(form.nameEdit->text().isEmpty());
    EXPECT_TRUE(form.addressEdit->text().isEmpty());
    EXPECT_TRUE(form.nameEdit->isEnabled());
    EXPECT_EQ(form.contactsView->selectedItems(), QList<QTreeWidgetItem*>{row(2)});
}

TEST_F(ContactListWindowTest, EnterWithoutASelectedRowDoesNothing)
{
    showWith(kThree);
    form.nameEdit->setText("Ann");
    QTest::keyClick(form.nameEdit, Qt::Key_Return);
    QTest::keyClick(form.addressEdit, Qt::Key_Enter);
    EXPECT_TRUE(main.addresses.isEmpty());
    EXPECT_TRUE(form.isVisible());
}

TEST_F(ContactListWindowTest, EnterWithASelectedRowUsesItsAddressAndClosesAndWrites)
{
    showWith(kThree);
    select(1);
    form.addressEdit->setText("edited but not stored");
    form.deleteButton->setFocus();
    QTest::keyClick(form.addressEdit, Qt::Key_Return);
    EXPECT_EQ(main.addresses, QStringList{"10.0.0.2"}) << "the row's address, not the field's";
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(fileBytes(), kThree);
}

TEST_F(ContactListWindowTest, DoubleClickOnARowUsesItsAddress)
{
    showWith(kThree);
    const QRect rect = form.contactsView->visualItemRect(row(2));
    QTest::mouseClick(form.contactsView->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(form.contactsView->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(main.addresses, QStringList{"10.0.0.3"});
    EXPECT_FALSE(form.isVisible());
}

TEST_F(ContactListWindowTest, RowsUnderThePointerShowAHandPointer)
{
    showWith(kThree);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mouseMove(form.contactsView->viewport(), form.contactsView->visualItemRect(row(1)).center());
    EXPECT_TRUE(test::processEventsUntil(
        [&] { return form.contactsView->viewport()->cursor().shape() == Qt::PointingHandCursor; }, 1000));
    QTest::mouseMove(form.contactsView->viewport(), QPoint(5, form.contactsView->viewport()->height() - 5));
    EXPECT_TRUE(test::processEventsUntil(
        [&] { return form.contactsView->viewport()->cursor().shape() != Qt::PointingHandCursor; }, 1000));
}

TEST_F(ContactListWindowTest, OnlyTheFirstColumnIsRenamedInPlaceAndTheNameFieldDoesNotFollow)
{
    showWith(kThree);
    select(0);
    form.contactsView->setFocus();

    const QModelIndex address = form.contactsView->model()->index(0, 1);
    form.contactsView->setCurrentIndex(address);
    QTest::keyClick(form.contactsView, Qt::Key_F2);
    EXPECT_EQ(form.contactsView->indexWidget(address), nullptr) << "address column is not editable";

    const QModelIndex name = form.contactsView->model()->index(0, 0);
    form.contactsView->setCurrentIndex(name);
    QTest::keyClick(form.contactsView, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(form.contactsView->indexWidget(name));
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "Annie");
    QTest::keyClick(editor, Qt::Key_Return);  // the editor commits once back in the event loop
    EXPECT_TRUE(test::processEventsUntil([&] { return row(0)->text(0) == "Annie"; }));
    EXPECT_EQ(form.nameEdit->text(), "Ann");

    EXPECT_TRUE(form.close());
    EXPECT_TRUE(fileBytes().startsWith("Annie|10.0.0.1\r\n"));
}

TEST_F(ContactListWindowTest, AnUnreadableFileIsReportedWithTheSystemsDescription)
{
    ASSERT_TRUE(QFile::link("/proc/self/mem", path()));
    test::ErrorBoxCatcher errors;
    form.show();
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(errors.messages[0].contains(QString::fromLocal8Bit(strerror(EIO)))) << errors.messages[0].toStdString();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.contactsView->topLevelItemCount(), 0);
}

TEST_F(ContactListWindowTest, AFailedWriteKeepsTheWindowOpenWithItsListAndTheOldFile)
{
    showWith(kThree);
    for (int i = 0; i < 10; ++i) {
        form.nameEdit->setText(QStringLiteral("Contact number %1").arg(i));
        form.addressEdit->setText("192.168.100.200");
        form.addOrModifyButton->click();
    }
    {
        test::ErrorBoxCatcher errors;
        const test::FileSizeLimit limit(kThree.size() + 10);  // the new list breaks off half-way
        EXPECT_FALSE(form.close());
        ASSERT_EQ(errors.messages.size(), 1);
        EXPECT_TRUE(errors.messages[0].contains(QString::fromLocal8Bit(strerror(EFBIG))))
            << errors.messages[0].toStdString();
    }
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(names().size(), 13);
    EXPECT_EQ(fileBytes(), kThree) << "the stored list is whole, as it was";

    // Once the file can be written, closing works.
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(fileBytes().startsWith(kThree + "Contact number 0|192.168.100.200\r\n"));
    form.show();
    EXPECT_EQ(names().size(), 13);
}

// --- Characters contacts.vip cannot hold ------------------------------------

struct RefusedCase {
    const char* what;
    QString name;
    QString address;
    QStringList shown;     // what the box names
    QStringList notShown;  // what it must not blame
};

class ContactListRefusal : public ContactListWindowTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ContactListRefusal, AddModifyRefusesWithABoxNamingTheCharactersAndChangesNothing)
{
    const RefusedCase& c = GetParam();
    showWith(kThree);
    test::MessageBoxCatcher boxes;
    test::ErrorBoxCatcher errors;
    form.nameEdit->setText(c.name);
    form.addressEdit->setText(c.address);
    form.addOrModifyButton->click();
    ASSERT_EQ(boxes.messages.size(), 1) << c.what;
    const QString box = boxes.messages[0];
    for (const QString& part : c.shown)
        EXPECT_TRUE(box.contains(part)) << c.what << ": " << box.toStdString() << " lacks " << part.toStdString();
    for (const QString& part : c.notShown)
        EXPECT_FALSE(box.contains(part)) << c.what << ": " << box.toStdString();
    EXPECT_TRUE(box.contains("The list was not changed.")) << box.toStdString();
    EXPECT_TRUE(errors.messages.isEmpty());
    EXPECT_EQ(form.contacts(), (QList<Contact>{{"Ann", "10.0.0.1"}, {"Bob", "10.0.0.2"}, {QStringLiteral("Jörg"), "10.0.0.3"}}))
        << c.what;
    EXPECT_EQ(form.nameEdit->text(), c.name) << "the fields keep the text for the user to mend";
    EXPECT_EQ(form.addressEdit->text(), c.address);
    EXPECT_TRUE(form.close());
    EXPECT_EQ(fileBytes(), kThree);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ContactListRefusal,
    ::testing::Values(
        RefusedCase{"Greek name", QStringLiteral("\u03A9mega"), "10.0.0.9",
                    {QStringLiteral("Contact name: \"\u03A9\" (U+03A9)")}, {"IP address:"}},
        RefusedCase{"emoji and CJK in the name", QString::fromUtf8("Ann \xF0\x9F\x98\x80 \xE4\xB8\xAD"), "1",
                    {QString::fromUtf8("\"\xF0\x9F\x98\x80\" (U+1F600)"), QStringLiteral("\"\u4E2D\" (U+4E2D)")}, {}},
        RefusedCase{"arrow in a listed contact's address", "bob", QStringLiteral("10.0.0.1 \u2192 home"),
                    {QStringLiteral("IP address: \"\u2192\" (U+2192)")}, {"Contact name:"}},
        RefusedCase{"line end in a new contact's address", "Eve", "10.0.0.1\rEve|6.6.6.6", {"IP address: U+000D"}, {}},
        RefusedCase{"both fields", QStringLiteral("\u0416"), QStringLiteral("\u2460"),
                    {QStringLiteral("Contact name: \"\u0416\" (U+0416)"), QStringLiteral("IP address: \"\u2460\" (U+2460)")}, {}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ContactListWindowTest, AddModifyTakesEveryCharacterTheFileCanHold)
{
    showWith(kThree);
    test::MessageBoxCatcher boxes;
    form.nameEdit->setText(QStringLiteral("Zo\u00eb \u201cZ\u201d \u20ac?"));
    form.addressEdit->setText(QStringLiteral("10.0.0.\u00b9"));
    form.addOrModifyButton->click();
    EXPECT_TRUE(boxes.messages.isEmpty());
    EXPECT_TRUE(form.close());
    form.show();
    EXPECT_EQ(form.contacts().back(), (Contact{QStringLiteral("Zo\u00eb \u201cZ\u201d \u20ac?"), QStringLiteral("10.0.0.\u00b9")}));
}

TEST_F(ContactListWindowTest, ARenameInPlaceTheFileCannotHoldGoesBackAndSaysWhy)
{
    showWith(kThree);
    test::MessageBoxCatcher boxes;
    select(1);
    form.contactsView->setFocus();
    const QModelIndex name = form.contactsView->model()->index(1, 0);
    form.contactsView->setCurrentIndex(name);
    QTest::keyClick(form.contactsView, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(form.contactsView->indexWidget(name));
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("B\u00f6b \u03B2"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(test::processEventsUntil([&] { return !boxes.messages.isEmpty(); }));
    EXPECT_EQ(boxes.messages.size(), 1) << boxes.messages.join("\n").toStdString();
    EXPECT_TRUE(boxes.messages[0].contains(QStringLiteral("\"\u03B2\" (U+03B2)"))) << boxes.messages[0].toStdString();
    EXPECT_TRUE(boxes.messages[0].contains("The name was not changed.")) << boxes.messages[0].toStdString();
    EXPECT_EQ(row(1)->text(0), "Bob");

    // A later rename that fits is kept, and a refused one after it goes back to it.
    row(1)->setText(0, QStringLiteral("B\u00f6b"));
    row(1)->setText(0, QStringLiteral("\u0411ob"));
    test::processEventsFor(50);
    EXPECT_EQ(row(1)->text(0), QStringLiteral("B\u00f6b"));
    EXPECT_EQ(boxes.messages.size(), 2);
    EXPECT_TRUE(form.close());
    EXPECT_EQ(fileBytes(), "Ann|10.0.0.1\r\nB\xf6" "b|10.0.0.2\r\nJ\xf6rg|10.0.0.3\r\n");
}

} // namespace
} // namespace kavelo
