#pragma once

#include "store/ColorValue.h"

#include <QWidget>

namespace kavelo {

// One row of the 16 default palette colours. The user picks a cell with the
// left mouse button or the keyboard (arrows, Home, End); only the picked cell
// counts.
class ColorGrid : public QWidget {
    Q_OBJECT
public:
    explicit ColorGrid(QWidget* parent = nullptr);

    // -1 when no cell is picked.
    int pickedCell() const { return picked_; }
    // Raises OnChange when the picked cell changes; a cell outside the grid
    // means no cell.
    void setPickedCell(int cell);

    // The cell under a point of the widget, or -1.
    int cellAt(const QPoint& point) const;
    QRect cellRect(int cell) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void OnChange();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int picked_ = -1;
};

} // namespace kavelo
