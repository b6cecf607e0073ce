// The device's OpenPGP key pair: made with GnuPG on first start, exported
// for the management service, identified by its fingerprint and key id;
// also imports the service's public key (without changing owner trust).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <string>

class KeyManagementAgent : public QObject
{
    Q_OBJECT
public:
    // Where the agent finds gpg and keeps its files.
    struct Places
    {
        QString gpgPath;        // empty: gpg is missing
        QString appDataFolder;  // ends in '/'
        QString serverKeyPath;  // the service's public key
        // The pinned key whose signatures are accepted; empty when the
        // configured fingerprint is invalid (then nothing is accepted).
        std::string serverFingerprint;
        // The places of the program: gpg located, the per-user folder, the
        // server key beside the program.
        static Places standard();
    };

    // Creates the per-user folder if missing and runs init(); installs the
    // agent as the source of the device's key id.
    explicit KeyManagementAgent(Places places = Places::standard(), QObject* parent = nullptr);
    ~KeyManagementAgent() override;

    static const char* const kDeviceName;

    // Makes sure the device key exists and is exported; imports the server
    // key.
    void init();

    // 40 hexadecimal digits; throws when there is no key or before init().
    std::string myPublicKeyFingerprint();
    // The last 8 digits of the fingerprint; empty when it is not 40 long.
    std::string myPublicKeyId();
    // The exported public key (ASCII armour); throws when unreadable.
    std::string clientPublicKey();
    // Uploads the device key to the service; the reply is not used.
    void postKeys();

    QByteArray runGpg(const QStringList& arguments, const QByteArray& input = QByteArray());
    bool gpgExists() const;
    const Places& places() const { return places_; }
    QString clientKeyPath() const;

    static std::string urlEncode(const std::string& text);
    // The fingerprint in a "--with-colons" listing; throws when none.
    static std::string fingerprintFromColonListing(const std::string& listing);

private:
    void exportPublicKey();
    bool hasDeviceSecretKey();
    void generateKey();
    void addDeviceUserId();
    void importServerKey();
    std::string deviceEmail() const;

    Places places_;
    std::atomic<bool> initialised_{false};
    std::mutex cacheMutex_;
    std::string fingerprint_;
    std::string keyId_;
    std::string publicKey_;
};
