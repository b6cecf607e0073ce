// The front-panel input loop.
#include "HardwareSignalManager.h"

#include "ManualLocationSource.h"

#include <QThread>

HardwareSignalManager* HardwareSignalManager::instance()
{
    static HardwareSignalManager* const manager = new HardwareSignalManager;
    return manager;
}

void HardwareSignalManager::eventLoop()
{
    for (;;) {
        pollManualLocation();
        QThread::msleep(1000);
    }
}
