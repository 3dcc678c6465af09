#include "windows/FontDialog.h"

#include "store/ColorValue.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QFormLayout>
#include <QPushButton>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

namespace kavelo {
namespace {

QIcon swatch(const QColor& color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    QPainter(&pixmap).drawRect(0, 0, 15, 15);
    return QIcon(pixmap);
}

// Qt's font chooser has no colour choice: it is embedded without its buttons
// beside a list of the 16 default colours, the colours a chat line may take.
class ChatFontChooser : public QDialog {
public:
    ChatFontChooser(const QFont& font, const QColor& color, QWidget* parent) : QDialog(parent)
    {
        setWindowTitle(QStringLiteral("Font"));
        setAccessibleName(windowTitle());

        // The chooser matches a face's styles by name, and Qt's generic name for an
        // upright medium face ("Normal") is not among a face's own ("Book",
        // "Regular"): it would preselect another style. The font's real style
        // name is what it can find.
        QFont shown = font;
        if (shown.styleName().isEmpty())
            shown.setStyleName(QFontInfo(font).styleName());
        fonts_ = new QFontDialog(shown, this);
        fonts_->setOptions(QFontDialog::NoButtons);
        fonts_->setWindowFlags(Qt::Widget);

        colors_ = new QComboBox(this);
        colors_->setAccessibleName(QStringLiteral("Colour"));
        for (const GridColor& entry : kGridColors)
            colors_->addItem(swatch(colorFromValue(entry.value)), QString::fromLatin1(entry.name),
                             colorFromValue(entry.value));
        int current = colors_->findData(color);
        if (current < 0) {
            // A colour outside the list (a desktop colour, one chosen elsewhere) stays choosable.
            colors_->addItem(swatch(color), QStringLiteral("Current"), color);
            current = colors_->count() - 1;
        }
        colors_->setCurrentIndex(current);

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
        buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

        auto* colorRow = new QFormLayout;
        colorRow->addRow(QStringLiteral("Colour:"), colors_);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(fonts_);
        layout->addLayout(colorRow);
        layout->addWidget(buttons);
    }

    QFont font() const { return fonts_->currentFont(); }
    QColor color() const { return colors_->currentData().value<QColor>(); }

private:
    QFontDialog* fonts_;
    QComboBox* colors_;
};

} // namespace

bool FontDialog::Execute(QWidget* parent)
{
    if (runner_)
        return runner_(*this);
    ChatFontChooser chooser(Font, Color, parent);
    if (chooser.exec() != QDialog::Accepted)
        return false;
    Font = chooser.font();
    Color = chooser.color();
    return true;
}

} // namespace kavelo
