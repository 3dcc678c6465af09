#pragma once

#include <QWidget>

namespace kavelo {

// The main window: address field, call buttons and the call state.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
};

} // namespace kavelo
