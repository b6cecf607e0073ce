// Watches the network interfaces listed in the settings document, picks the
// cheapest usable one and tells the platform which one through status files.
#pragma once

#include "NetworkInterface.h"
#include "NetworkState.h"
#include "SettingsFileParser.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class NetworkInterfaceManager_t : public QObject, public NetworkInterfaceList
{
    Q_OBJECT
public:
    explicit NetworkInterfaceManager_t(QObject* parent = nullptr);

    // The process-wide manager, created before the program's entry point.
    static NetworkInterfaceManager_t* instance();

    // Fills the interface set from the settings document; true when the
    // document listed interfaces.
    bool loadInterfaces();
    // Adds one candidate interface; interfaces are never removed.
    void addInterface(const std::string& name, int cost) override;

    // One polling pass: report every status, choose, publish readiness.
    void runPass();

    // Ends the polling loop after its current pass (tests and shutdown).
    void requestStop() { stopRequested_ = true; }
    // Time between passes; one second in the program.
    void setPassIntervalMs(int ms) { passIntervalMs_ = ms; }

    QString selectedInterfaceName() const;
    bool isNetworkReady() const { return networkReady_; }
    std::vector<std::pair<std::string, int>> interfaces() const;

public slots:
    void worker_thread();

signals:
    void moUpdateSelectedNetworkInterface(QString selectedInterfaceName);
    void moUpdateNetworkReadyStatus(bool);
    // Every pass: the selection's state as the display shows it.
    void moUpdateNetworkState(NetworkState state);

private:
    std::vector<const NetworkInterface_t*> snapshot() const;
    std::vector<const NetworkInterface_t*> availableInterfaces(const std::vector<const NetworkInterface_t*>& all,
                                                               bool& anyReported);
    void choose(const std::vector<const NetworkInterface_t*>& available);
    void writeSelectedInterfaceFile(const std::string& name);

    // Start-up fills the set while the worker may already poll it.
    mutable std::mutex interfacesMutex_;
    std::vector<std::unique_ptr<NetworkInterface_t>> interfaces_;
    std::atomic<const NetworkInterface_t*> selected_{nullptr};
    std::atomic<bool> networkReady_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> passIntervalMs_{1000};
};
