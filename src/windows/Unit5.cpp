#include "windows/Unit5.h"

#include "platform/CodePage.h"
#include "platform/Guarded.h"
#include "windows/ChatFont.h"
#include "windows/ColorGrid.h"
#include "windows/MessagesLink.h"
#include "windows/TimeStamp.h"
#include "windows/WindowPlacement.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>

namespace kavelo {
namespace {

constexpr QSize kDesignSize(483, 285);
constexpr int kPanelHeight = 59;

void setRoleColor(QWidget& widget, QPalette::ColorRole role, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(role, color);
    widget.setPalette(palette);
}

QToolButton* makeFontLink(const QString& caption, QWidget* parent)
{
    auto* link = new QToolButton(parent);
    link->setText(caption);
    link->setAccessibleName(caption);
    link->setAutoRaise(true);
    link->setCursor(Qt::PointingHandCursor);
    QFont font = link->font();
    font.setUnderline(true);
    link->setFont(font);
    setRoleColor(*link, QPalette::ButtonText, Qt::blue);
    return link;
}

} // namespace

TForm5::TForm5(MessagesLink& mainWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), mainWindow_(mainWindow)
{
    setWindowTitle(QStringLiteral("Messages"));
    setAccessibleName(windowTitle());

    RichEdit1 = new QTextEdit(this);
    RichEdit1->setAccessibleName(QStringLiteral("Conversation"));
    RichEdit1->setReadOnly(true);
    // Lines from the network are text to show, never markup or resources to load.
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setUndoRedoEnabled(false);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A selection stays as visible when the pane has lost the focus.
    QPalette panePalette = RichEdit1->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        panePalette.setColor(QPalette::Inactive, role, panePalette.color(QPalette::Active, role));
    RichEdit1->setPalette(panePalette);

    auto* panel = new QWidget(this);
    panel->setFixedHeight(kPanelHeight);

    Label1 = new QLabel(QStringLiteral("Text"), panel);
    Label1->setAccessibleName(Label1->text());
    QFont labelFont = Label1->font();
    labelFont.setBold(true);
    labelFont.setPixelSize(16);
    Label1->setFont(labelFont);
    setRoleColor(*Label1, QPalette::WindowText, Qt::blue);

    Edit1 = new QLineEdit(panel);
    Edit1->setAccessibleName(QStringLiteral("Text"));
    Edit1->setMaxLength(kMaxTextLength);
    Label1->setBuddy(Edit1);
    setRoleColor(*Edit1, QPalette::Base, colorFromValue(kSystemWindowColor));
    Edit1->installEventFilter(this);

    SpeedButton1 = new QToolButton(panel);
    SpeedButton1->setText(QStringLiteral("Send"));
    SpeedButton1->setAccessibleName(SpeedButton1->text());
    SpeedButton1->setMinimumWidth(57);
    setRoleColor(*SpeedButton1, QPalette::ButtonText, Qt::red);
    SpeedButton1->setEnabled(false);

    SpeedButton2 = makeFontLink(QStringLiteral("Choose your font..."), panel);
    SpeedButton3 = makeFontLink(QStringLiteral("Choose other's font..."), panel);

    ColorGrid1 = new TColorGrid(panel);

    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(Label1);
    inputRow->addWidget(Edit1, 1);
    inputRow->addWidget(SpeedButton1);
    auto* choiceRow = new QHBoxLayout;
    choiceRow->addWidget(SpeedButton2);
    choiceRow->addWidget(SpeedButton3);
    choiceRow->addWidget(ColorGrid1, 1);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(4, 3, 4, 3);
    panelLayout->setSpacing(2);
    panelLayout->addLayout(inputRow);
    panelLayout->addLayout(choiceRow);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(RichEdit1, 1);
    layout->addWidget(panel);

    setTabOrder(Edit1, SpeedButton1);
    setTabOrder(SpeedButton1, SpeedButton2);
    setTabOrder(SpeedButton2, SpeedButton3);
    setTabOrder(SpeedButton3, ColorGrid1);
    setTabOrder(ColorGrid1, RichEdit1);

    connect(Edit1, &QLineEdit::textChanged, this, [this] { guarded([this] { Edit1Change(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton1Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton2Click(); }); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton3Click(); }); });
    connect(ColorGrid1, &TColorGrid::OnChange, this, [this] { guarded([this] { ColorGrid1Change(); }); });

    setChatBackground(kSystemWindowColor);
    resize(kDesignSize);
    centerOnScreen(*this);
}

void TForm5::setChatBackground(ColorValue value)
{
    background_ = value;
    setRoleColor(*RichEdit1, QPalette::Base, colorFromValue(value));
}

void TForm5::ShowReceivedLine(const QString& line)
{
    makeTopmost();
    // A line must be seen: a minimised window comes back as it was before.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    if (focusWidget() == nullptr)
        Edit1->setFocus();
    appendLine(line, mainWindow_.otherChatFont());
}

void TForm5::makeTopmost()
{
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    // A new window flag recreates the window hidden; it comes back where it was,
    // and coming back is not a new showing that would empty the input.
    const QPoint position = pos();
    const QSize extent = size();
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    move(position);
    resize(extent);
    if (wasVisible) {
        keepInputOnShow_ = true;
        show();
        keepInputOnShow_ = false;
    }
}

void TForm5::appendLine(const QString& line, const TChatFont& font)
{
    QTextCharFormat format;
    format.setFont(toQFont(font));
    format.setForeground(colorFromValue(font.color));

    QTextCursor cursor(RichEdit1->document());
    cursor.movePosition(QTextCursor::End);
    if (!RichEdit1->document()->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), format);
    else
        cursor.setBlockCharFormat(format);
    cursor.insertText(line, format);

    QScrollBar* scroll = RichEdit1->verticalScrollBar();
    scroll->setValue(scroll->maximum());
}

void TForm5::FormShow()
{
    Edit1->clear();
    SpeedButton1->setEnabled(false);
}

void TForm5::Edit1Change()
{
    SpeedButton1->setEnabled(!Edit1->text().isEmpty());
}

void TForm5::Edit1KeyPress(QChar& key)
{
    if (key == u'\r' && !Edit1->text().isEmpty())
        SpeedButton1Click();
}

void TForm5::Edit1Enter()
{
    setRoleColor(*Edit1, QPalette::Base, colorFromValue(kYellowColor));
}

void TForm5::Edit1Exit()
{
    setRoleColor(*Edit1, QPalette::Base, colorFromValue(kSystemWindowColor));
}

void TForm5::SpeedButton1Click()
{
    const QString text = Edit1->text();
    const DatagramBuffer datagram = makeTextMessage(toAnsi(text));
    appendLine(QStringLiteral("You (") + longTimeText(QTime::currentTime()) + QStringLiteral("): ") + text,
               mainWindow_.ownChatFont());
    // A failure to send leaves the text in the input line for another try.
    mainWindow_.SendMessage(datagram);
    Edit1->clear();
}

void TForm5::SpeedButton2Click()
{
    chooseFont(FontDialog1, mainWindow_.ownChatFont());
}

void TForm5::SpeedButton3Click()
{
    chooseFont(FontDialog2, mainWindow_.otherChatFont());
}

void TForm5::chooseFont(TFontDialog& dialog, TChatFont& record)
{
    dialog.Font = toQFont(record);
    dialog.Color = colorFromValue(record.color);
    if (dialog.Execute(this))
        assignFont(record, dialog.Font, dialog.Color);
}

void TForm5::ColorGrid1Change()
{
    // With no cell picked the pane keeps the colour it has.
    const int cell = ColorGrid1->pickedCell();
    if (cell >= 0 && cell < kGridCellCount)
        setChatBackground(kGridColors[static_cast<std::size_t>(cell)].value);
}

void TForm5::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Coming back from minimised is no new showing.
    if (!event->spontaneous() && !keepInputOnShow_)
        guarded([this] { FormShow(); });
}

bool TForm5::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit1) {
        switch (event->type()) {
        case QEvent::FocusIn:
            guarded([this] { Edit1Enter(); });
            break;
        case QEvent::FocusOut:
            guarded([this] { Edit1Exit(); });
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                QChar typed = u'\r';
                guarded([this, &typed] { Edit1KeyPress(typed); });
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kavelo
