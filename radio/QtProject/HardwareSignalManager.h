// The front-panel input loop, on a thread of its own at the highest
// priority. For now each pass only refreshes the manual own location.
#pragma once

#include <QObject>

class HardwareSignalManager : public QObject
{
    Q_OBJECT
public:
    static HardwareSignalManager* instance();

public slots:
    // Runs for the whole program: one pass about every second.
    void eventLoop();

private:
    HardwareSignalManager() = default;
};
