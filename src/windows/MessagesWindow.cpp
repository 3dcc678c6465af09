#include "windows/MessagesWindow.h"

#include "platform/CodePage.h"
#include "platform/Guarded.h"
#include "windows/AccessibleRoles.h"
#include "store/ChatFont.h"
#include "windows/ColorGrid.h"
#include "windows/MessagesLink.h"
#include "windows/TimeStamp.h"
#include "windows/WindowActivation.h"
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

QString oneLine(QString text)
{
    for (QChar& ch : text) {
        const char16_t code = ch.unicode();
        if (code == u'\t')
            ch = u' ';
        else if (code < 0x20)
            ch = QChar(0x2400 + code);  // the control's own picture: CR ␍, LF ␊, ESC ␛
        else if (code == 0x7F)
            ch = QChar(0x2421);  // ␡
        else if (code == QChar::LineSeparator || code == QChar::ParagraphSeparator)
            ch = QChar(0x2424);  // ␤
        else if (ch.category() == QChar::Other_Control)
            ch = QChar::ReplacementCharacter;
    }
    return text;
}

QString receivedMessageText(const QString& text)
{
    if (text.size() <= kMaxTextLength)
        return oneLine(text);
    return oneLine(text.first(kMaxTextLength)) + QChar(0x2026);  // …
}

MessagesWindow::MessagesWindow(MessagesLink& mainWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), mainWindow_(mainWindow)
{
    useAccessibleRoles();
    setWindowTitle(QStringLiteral("Messages"));
    setAccessibleName(windowTitle());

    conversationPane = new QTextEdit(this);
    conversationPane->setAccessibleName(QStringLiteral("Conversation"));
    conversationPane->setReadOnly(true);
    // Lines from the network are text to show, never markup or resources to load.
    conversationPane->setAcceptRichText(false);
    conversationPane->setUndoRedoEnabled(false);
    conversationPane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A selection stays as visible when the pane has lost the focus.
    QPalette panePalette = conversationPane->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        panePalette.setColor(QPalette::Inactive, role, panePalette.color(QPalette::Active, role));
    conversationPane->setPalette(panePalette);

    auto* panel = new QWidget(this);
    panel->setFixedHeight(kPanelHeight);

    inputLabel = new QLabel(QStringLiteral("Text"), panel);
    inputLabel->setAccessibleName(inputLabel->text());
    QFont labelFont = inputLabel->font();
    labelFont.setBold(true);
    labelFont.setPixelSize(16);
    inputLabel->setFont(labelFont);
    setRoleColor(*inputLabel, QPalette::WindowText, Qt::blue);

    inputEdit = new QLineEdit(panel);
    inputEdit->setAccessibleName(QStringLiteral("Text"));
    inputEdit->setMaxLength(kMaxTextLength);
    inputLabel->setBuddy(inputEdit);
    setRoleColor(*inputEdit, QPalette::Base, colorFromValue(kSystemWindowColor));
    inputEdit->installEventFilter(this);

    sendButton = new QToolButton(panel);
    sendButton->setText(QStringLiteral("Send"));
    sendButton->setAccessibleName(sendButton->text());
    sendButton->setMinimumWidth(57);
    setRoleColor(*sendButton, QPalette::ButtonText, Qt::red);
    sendButton->setEnabled(false);

    ownFontButton = makeFontLink(QStringLiteral("Choose your font..."), panel);
    otherFontButton = makeFontLink(QStringLiteral("Choose other's font..."), panel);

    backgroundGrid = new ColorGrid(panel);

    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(inputLabel);
    inputRow->addWidget(inputEdit, 1);
    inputRow->addWidget(sendButton);
    auto* choiceRow = new QHBoxLayout;
    choiceRow->addWidget(ownFontButton);
    choiceRow->addWidget(otherFontButton);
    choiceRow->addWidget(backgroundGrid, 1);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(4, 3, 4, 3);
    panelLayout->setSpacing(2);
    panelLayout->addLayout(inputRow);
    panelLayout->addLayout(choiceRow);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(conversationPane, 1);
    layout->addWidget(panel);

    setTabOrder(inputEdit, sendButton);
    setTabOrder(sendButton, ownFontButton);
    setTabOrder(ownFontButton, otherFontButton);
    setTabOrder(otherFontButton, backgroundGrid);
    setTabOrder(backgroundGrid, conversationPane);

    connect(inputEdit, &QLineEdit::textChanged, this, [this] { guarded([this] { onInputChanged(); }); });
    connect(sendButton, &QToolButton::clicked, this, [this] { guarded([this] { onSend(); }); });
    connect(ownFontButton, &QToolButton::clicked, this, [this] { guarded([this] { onChooseOwnFont(); }); });
    connect(otherFontButton, &QToolButton::clicked, this, [this] { guarded([this] { onChooseOtherFont(); }); });
    connect(backgroundGrid, &ColorGrid::OnChange, this, [this] { guarded([this] { onBackgroundChosen(); }); });

    setChatBackground(kSystemWindowColor);
    resize(kDesignSize);
    openBesideOwner(*this);
    closeOnEscape(*this);
}

void MessagesWindow::setChatBackground(ColorValue value)
{
    background_ = value;
    setRoleColor(*conversationPane, QPalette::Base, colorFromValue(value));
}

void MessagesWindow::ShowReceivedLine(const QString& line)
{
    // Becoming topmost re-creates the window hidden; showing it again is no new
    // showing that would empty the input.
    keepInputOnShow_ = isVisible();
    makeTopmost();
    const bool activated = bringToFront(*this);
    keepInputOnShow_ = false;
    if (activated && focusWidget() == nullptr)
        inputEdit->setFocus();
    appendLine(oneLine(line), mainWindow_.otherChatFont());
}

void MessagesWindow::makeTopmost()
{
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    // A new window flag re-creates the window hidden; it comes back where it was.
    const QPoint position = pos();
    const QSize extent = size();
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    move(position);
    resize(extent);
}

void MessagesWindow::appendLine(const QString& line, const ChatFont& font)
{
    QTextCharFormat format;
    format.setFont(toQFont(font));
    format.setForeground(colorFromValue(font.color));

    QTextCursor cursor(conversationPane->document());
    cursor.movePosition(QTextCursor::End);
    if (!conversationPane->document()->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), format);
    else
        cursor.setBlockCharFormat(format);
    cursor.insertText(line, format);

    QScrollBar* scroll = conversationPane->verticalScrollBar();
    scroll->setValue(scroll->maximum());
}

void MessagesWindow::onShown()
{
    inputEdit->clear();
    sendButton->setEnabled(false);
}

void MessagesWindow::onInputChanged()
{
    sendButton->setEnabled(!inputEdit->text().isEmpty());
}

void MessagesWindow::onInputKeyPress(QChar& key)
{
    if (key == u'\r' && !inputEdit->text().isEmpty())
        onSend();
}

void MessagesWindow::onInputFocused()
{
    setRoleColor(*inputEdit, QPalette::Base, colorFromValue(kYellowColor));
}

void MessagesWindow::onInputLeft()
{
    setRoleColor(*inputEdit, QPalette::Base, colorFromValue(kSystemWindowColor));
}

void MessagesWindow::onSend()
{
    const QString text = inputEdit->text();
    const DatagramBuffer datagram = makeTextMessage(toAnsi(text));
    appendLine(QStringLiteral("You (") + longTimeText(QTime::currentTime()) + QStringLiteral("): ") + text,
               mainWindow_.ownChatFont());
    // A failure to send leaves the text in the input line for another try.
    mainWindow_.sendMessage(datagram);
    inputEdit->clear();
}

void MessagesWindow::onChooseOwnFont()
{
    chooseFont(ownFontDialog, mainWindow_.ownChatFont());
}

void MessagesWindow::onChooseOtherFont()
{
    chooseFont(otherFontDialog, mainWindow_.otherChatFont());
}

void MessagesWindow::chooseFont(FontDialog& dialog, ChatFont& record)
{
    dialog.Font = toQFont(record);
    dialog.Color = colorFromValue(record.color);
    if (dialog.Execute(this))
        assignFont(record, dialog.Font, dialog.Color);
}

void MessagesWindow::onBackgroundChosen()
{
    // With no cell picked the pane keeps the colour it has.
    const int cell = backgroundGrid->pickedCell();
    if (cell >= 0 && cell < kGridCellCount)
        setChatBackground(kGridColors[static_cast<std::size_t>(cell)].value);
}

void MessagesWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Coming back from minimised is no new showing.
    if (!event->spontaneous() && !keepInputOnShow_)
        guarded([this] { onShown(); });
}

bool MessagesWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == inputEdit) {
        switch (event->type()) {
        case QEvent::FocusIn:
            guarded([this] { onInputFocused(); });
            break;
        case QEvent::FocusOut:
            guarded([this] { onInputLeft(); });
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                QChar typed = u'\r';
                guarded([this, &typed] { onInputKeyPress(typed); });
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
