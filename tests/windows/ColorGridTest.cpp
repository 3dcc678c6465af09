#include "windows/ColorGrid.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

class ColorGridTest : public ::testing::Test {
protected:
    ColorGridTest()
    {
        grid.resize(grid.sizeHint());
        grid.show();
    }

    void click(int cell, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(&grid, button, {}, grid.cellRect(cell).center());
    }

    ColorGrid grid;
    QSignalSpy changes{&grid, &ColorGrid::OnChange};
};

TEST_F(ColorGridTest, StartsWithWhitePicked)
{
    EXPECT_EQ(grid.pickedCell(), 15);
    EXPECT_EQ(grid.sizeHint(), QSize(240, 23));
    EXPECT_EQ(grid.accessibleName(), QStringLiteral("Background colour"));
    EXPECT_EQ(grid.accessibleDescription(), QStringLiteral("White"));
}

TEST_F(ColorGridTest, LeftClickPicksTheCellUnderThePointer)
{
    for (int cell : {0, 9, 3, 15}) {
        click(cell);
        EXPECT_EQ(grid.pickedCell(), cell);
    }
    EXPECT_EQ(changes.count(), 4);
}

TEST_F(ColorGridTest, CellsStretchWithTheWidget)
{
    grid.resize(480, 23);
    click(8);
    EXPECT_EQ(grid.pickedCell(), 8);
    EXPECT_EQ(grid.cellAt(QPoint(479, 10)), 15);
    EXPECT_EQ(grid.cellAt(QPoint(0, 10)), 0);
    EXPECT_EQ(grid.cellAt(QPoint(480, 10)), -1);
}

TEST_F(ColorGridTest, PickingThePickedCellRaisesNoChange)
{
    click(15);
    grid.setPickedCell(15);
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(ColorGridTest, OtherButtonsPickNothing)
{
    click(2, Qt::RightButton);
    click(2, Qt::MiddleButton);
    EXPECT_EQ(grid.pickedCell(), 15);
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(ColorGridTest, KeyboardMovesThePick)
{
    struct Step {
        Qt::Key key;
        int expected;
    };
    const Step steps[] = {
        {Qt::Key_Right, 15}, {Qt::Key_Left, 14}, {Qt::Key_Up, 13}, {Qt::Key_Home, 0},
        {Qt::Key_Left, 0},   {Qt::Key_Down, 1},  {Qt::Key_End, 15},
    };
    for (const Step& step : steps) {
        QTest::keyClick(&grid, step.key);
        EXPECT_EQ(grid.pickedCell(), step.expected) << step.key;
    }
    EXPECT_EQ(changes.count(), 5) << "keys that leave the pick where it is raise nothing";
}

TEST_F(ColorGridTest, CodeCanPickNoCellAndThatIsAChange)
{
    grid.setPickedCell(-1);
    EXPECT_EQ(grid.pickedCell(), -1);
    EXPECT_EQ(changes.count(), 1);
    grid.setPickedCell(16);
    EXPECT_EQ(grid.pickedCell(), -1) << "outside the grid means no cell";
    EXPECT_EQ(changes.count(), 1);
    QTest::keyClick(&grid, Qt::Key_Right);
    EXPECT_EQ(grid.pickedCell(), 0);
}

} // namespace
} // namespace kavelo
