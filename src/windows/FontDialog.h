#pragma once

#include <QColor>
#include <QFont>
#include <functional>

class QWidget;

namespace kavelo {

// The font chooser of a chat font: face, size, style, underline, strike-out and
// text colour. Load Font and Color, run Execute, read them back after OK.
class FontDialog {
public:
    QFont Font;
    QColor Color;

    // Runs the chooser modally; true when the user chose OK, and only then are
    // Font and Color changed.
    bool Execute(QWidget* parent);

    // Answers in place of the modal chooser (tests answer it without a modal loop).
    using Runner = std::function<bool(FontDialog& dialog)>;
    void setRunner(Runner runner) { runner_ = std::move(runner); }

private:
    Runner runner_;
};

} // namespace kavelo
