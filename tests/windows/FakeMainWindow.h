#pragma once

#include "windows/MainWindowLink.h"

#include <QStringList>

namespace kavelo::test {

// Records what the side windows ask of the main window.
class FakeMainWindow : public MainWindowLink {
public:
    explicit FakeMainWindow(QString folder) : folder_(std::move(folder)) {}

    void setAddressField(const QString& address) override { addresses.append(address); }
    void clearCurrentPeer() override { ++peerClears; }
    QString programFolder() const override { return folder_; }
    void restoreApplication() override { ++restores; }
    void stopRingSound() override { ++ringStops; }

    QStringList addresses;
    int peerClears = 0;
    int restores = 0;
    int ringStops = 0;

private:
    QString folder_;
};

} // namespace kavelo::test
