#include "windows/ColorGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace kavelo {
namespace {

constexpr QSize kDesignSize(240, 23);
constexpr int kDesignCell = 15;

QString accessibleCellName(int cell)
{
    if (cell < 0 || cell >= kGridCellCount)
        return QStringLiteral("None");
    return QString::fromLatin1(kGridColors[static_cast<std::size_t>(cell)].name);
}

} // namespace

ColorGrid::ColorGrid(QWidget* parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Background colour"));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setPickedCell(kDesignCell);
}

void ColorGrid::setPickedCell(int cell)
{
    if (cell < 0 || cell >= kGridCellCount)
        cell = -1;
    if (cell == picked_)
        return;
    picked_ = cell;
    // Screen readers and whole-program tests read the picked colour from here.
    setAccessibleDescription(accessibleCellName(cell));
    update();
    emit OnChange();
}

QRect ColorGrid::cellRect(int cell) const
{
    const int left = cell * width() / kGridCellCount;
    const int right = (cell + 1) * width() / kGridCellCount;
    return QRect(left, 0, right - left, height());
}

int ColorGrid::cellAt(const QPoint& point) const
{
    if (!rect().contains(point))
        return -1;
    return std::min(point.x() * kGridCellCount / std::max(width(), 1), kGridCellCount - 1);
}

QSize ColorGrid::sizeHint() const
{
    return kDesignSize;
}

QSize ColorGrid::minimumSizeHint() const
{
    return QSize(kGridCellCount * 4, kDesignSize.height());
}

void ColorGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (int cell = 0; cell < kGridCellCount; ++cell) {
        const QRect box = cellRect(cell);
        painter.fillRect(box, colorFromValue(kGridColors[static_cast<std::size_t>(cell)].value));
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
    }
    if (picked_ < 0) {
        if (hasFocus()) {
            painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
        return;
    }
    // The picked cell gets a black and a white frame, visible on every colour.
    const QRect box = cellRect(picked_);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawRect(box.adjusted(1, 1, -1, -1));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(box.adjusted(3, 3, -4, -4));
    if (hasFocus()) {
        // The keyboard outline: a dotted line inside the white frame, seen on every colour.
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(box.adjusted(4, 4, -5, -5));
    }
}

void ColorGrid::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int cell = cellAt(event->position().toPoint());
    if (cell >= 0)
        setPickedCell(cell);
}

void ColorGrid::keyPressEvent(QKeyEvent* event)
{
    int cell = picked_;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        cell = cell < 0 ? 0 : std::max(cell - 1, 0);
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        cell = std::min(cell + 1, kGridCellCount - 1);
        break;
    case Qt::Key_Home:
        cell = 0;
        break;
    case Qt::Key_End:
        cell = kGridCellCount - 1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    setPickedCell(cell);
}

} // namespace kavelo
