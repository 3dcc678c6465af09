#pragma once

#include <QWidget>

class QTreeWidget;

namespace kavelo {

// The missed calls window: callers that were not taken up, each listed once
// with the time of their first missed call. Nothing is saved.
class MissedCallsWindow : public QWidget {
    Q_OBJECT
public:
    explicit MissedCallsWindow(QWidget* parent = nullptr);

    // Appends the caller with the current date and time unless a row with that
    // name, letter case ignored, is already listed; answers whether it did.
    bool AddMissedCall(const QString& displayName);

    // Removes every row (the main window does so once, when it is first shown).
    void Clear();

    QTreeWidget* missedCallsView;
};

} // namespace kavelo
