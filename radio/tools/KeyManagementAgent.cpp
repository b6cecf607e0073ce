// The device key's life cycle with GnuPG and the key's upload to the
// management service.
#include "KeyManagementAgent.h"

#include "AppDataFolder.h"
#include "BoundedFileReader.h"
#include "DeviceIdentity.h"
#include "GpgProcess.h"
#include "MacAddress.h"
#include "ManagementService.h"
#include "debug_log.h"
#include "wGet.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kGpgTimeoutMs = 30000;
constexpr qint64 kLargestPublicKey = 40000;
constexpr std::size_t kFingerprintLength = 40;
constexpr std::size_t kKeyIdLength = 8;

const char* const kGpgMissingText = "Unable to locate gpg executable.";

std::string argumentText(const QStringList& arguments)
{
    return arguments.join(QLatin1Char(' ')).toLatin1().toStdString();
}

// The service's public key: beside the program (the build tree), else in
// the program's installed data folder (share/rvx4400w beside bin/).
QString serverKeyFile(const QString& programFolder)
{
    const QString name = QStringLiteral("server-client-public-key.gpg");
    const QString beside = programFolder + QLatin1Char('/') + name;
    const QString installed =
        QDir::cleanPath(programFolder + QStringLiteral("/" RVX_DATA_FOLDER_FROM_PROGRAM "/") + name);
    return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
}

} // namespace

const char* const KeyManagementAgent::kDeviceName = "IDRVX4400W";

KeyManagementAgent::Places KeyManagementAgent::Places::standard()
{
    Places places;
    places.gpgPath = locateGpg();
    places.appDataFolder = ::appDataFolder();
    const QString programFolder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    places.serverKeyPath = serverKeyFile(programFolder);
    places.serverFingerprint = serverKeyFingerprint();
    return places;
}

KeyManagementAgent::KeyManagementAgent(Places places, QObject* parent) : QObject(parent), places_(std::move(places))
{
    QDir().mkpath(places_.appDataFolder);
    setKeyIdSource([this] { return myPublicKeyId(); });
    init();
}

KeyManagementAgent::~KeyManagementAgent()
{
    setKeyIdSource({});
}

bool KeyManagementAgent::gpgExists() const
{
    return !places_.gpgPath.isEmpty() && QFileInfo::exists(places_.gpgPath);
}

QString KeyManagementAgent::clientKeyPath() const
{
    return places_.appDataFolder + QStringLiteral("client-public-key.gpg");
}

std::string KeyManagementAgent::deviceEmail() const
{
    return std::string(kDeviceName) + "@" + managementMailDomain();
}

QByteArray KeyManagementAgent::runGpg(const QStringList& arguments, const QByteArray& input)
{
    if (!gpgExists())
        return QByteArray(kGpgMissingText);
    debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "Command: %s\n", argumentText(arguments).c_str());
    const GpgRun run = runGpgProcess(places_.gpgPath, arguments, input, kGpgTimeoutMs);
    if (debug_log_is_enabled("ENABLE_KEY_GENERATION_DEBUG") && debug_log_is_enabled("ENABLE_DECRYPTION_DEBUG")) {
        debug_log_printf_always("Exit Code:%d\nExit Status:%d\nError Output%s\nStandard Output: %s\n", run.exitCode,
                                run.crashedOrKilled ? 1 : 0, run.errorOutput.constData(),
                                run.standardOutput.constData());
    }
    return run.standardOutput;
}

// No exported file normally means no key yet. But the export also fails
// when the data folder cannot be written (a read-only or full disk); a key
// made then would be a new identity at every start, so gpg is asked for
// the secret key by its user id first.
void KeyManagementAgent::init()
{
    QFile::remove(clientKeyPath());
    exportPublicKey();
    if (!QFileInfo::exists(clientKeyPath()) && hasDeviceSecretKey()) {
        debug_log_printf_always("Unable to export the device key to %s (is the folder writable?); the existing key "
                                "is kept\n",
                                QFile::encodeName(clientKeyPath()).constData());
    } else if (!QFileInfo::exists(clientKeyPath())) {
        debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "generating...\n");
        std::fflush(stdout);
        generateKey();
        initialised_ = true;
        addDeviceUserId();
        exportPublicKey();
    }
    importServerKey();
    initialised_ = true;
}

void KeyManagementAgent::exportPublicKey()
{
    const QStringList arguments{"--output", clientKeyPath(), "--export", "-a", kDeviceName};
    if (debug_log_is_enabled("ENABLE_KEY_GENERATION_DEBUG")) {
        debug_log_printf_always("Attempting to export public key using command: \n");
        for (const QString& argument : arguments)
            debug_log_printf_always("%s\n", argument.toLatin1().constData());
    }
    const QByteArray output = runGpg(arguments);
    debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "Result of exporting my public key: %s\n", output.constData());
}

bool KeyManagementAgent::hasDeviceSecretKey()
{
    const QByteArray listing = runGpg({"--list-secret-keys", "--with-colons", kDeviceName});
    return listing.startsWith("sec:") || listing.contains("\nsec:");
}

// "%no-protection" is what makes GnuPG 2.2 generate without a passphrase
// prompt; the other lines are the key's fixed parameters.
void KeyManagementAgent::generateKey()
{
    const std::string parameters = "Key-Type:RSA \r\n"
                                   "Key-Length:2048 \r\n"
                                   "Expire-Date:0 \r\n"
                                   "Name-Real:" +
                                   std::string(kDeviceName) + "\r\nName-Email:" + deviceEmail() +
                                   "\r\n%no-protection\r\n%commit\r\n";
    runGpg({"--batch", "--gen-key"}, QByteArray::fromStdString(parameters));
}

// The second user ID names the unit by its key id, so that the service can
// find the key by it.
// A key that cannot be listed after generation is logged, not raised, so
// that start-up goes on without a key as it does without gpg.
void KeyManagementAgent::addDeviceUserId()
{
    std::string keyId;
    try {
        keyId = myPublicKeyId();
    } catch (const std::exception& error) {
        debug_log_printf_always("Unable to add the device's user ID (%s)\n", error.what());
    }
    if (keyId.empty() || !gpgExists())
        return;
    const std::string name = "ID" + keyId;
    const std::string answers = "adduid\n" + name + "\n" + name + "@" + managementMailDomain() + "\nN/A\nsave\n";
    const QStringList arguments{"--batch", "--edit-key", "--status-fd=2", "--command-fd=0",
                                QString::fromStdString(keyId)};
    const GpgRun run = runGpgProcess(places_.gpgPath, arguments, QByteArray::fromStdString(answers), kGpgTimeoutMs);
    debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "Error output: %s\nStandard output: %s\n",
                     run.errorOutput.constData(), run.standardOutput.constData());
}

// Only imported: settings are accepted by the signer's pinned fingerprint
// (VALIDSIG), which needs no owner trust, and the key ring may be the
// user's own, whose trust settings the radio must not change.
void KeyManagementAgent::importServerKey()
{
    if (!QFileInfo::exists(places_.serverKeyPath))
        debug_log_printf_always("Unable to locate the server's public key.  Decryption of settings will fail.  The "
                                "server's public key must be in the application directory.  Reinstalling the "
                                "application may help.\n");
    runGpg({"--import", places_.serverKeyPath});
}

std::string KeyManagementAgent::fingerprintFromColonListing(const std::string& listing)
{
    const std::size_t record = listing.find("fpr:");
    if (record == std::string::npos)
        throw std::runtime_error("Unable to find my public key fingerprint");
    const std::size_t start = listing.find_first_not_of(':', record + 4);
    if (start == std::string::npos)
        throw std::runtime_error("Unable to determine my public key fingerprint");
    return listing.substr(start, kFingerprintLength);
}

std::string KeyManagementAgent::myPublicKeyFingerprint()
{
    if (!initialised_)
        throw std::runtime_error("Unable to use KeyManagementAgent:  init() has not yet been called");
    {
        std::lock_guard<std::mutex> lock(cacheMutex_);
        if (!fingerprint_.empty())
            return fingerprint_;
    }
    QByteArray listing;
    if (gpgExists())
        listing = runGpgProcess(places_.gpgPath, {"--list-keys", "--fingerprint", "--with-colons", kDeviceName},
                                QByteArray(), kGpgTimeoutMs)
                      .standardOutput;
    debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "Key fingerprint: %s\n", listing.constData());
    const std::string fingerprint = fingerprintFromColonListing(listing.toStdString());
    std::lock_guard<std::mutex> lock(cacheMutex_);
    fingerprint_ = fingerprint;
    return fingerprint_;
}

std::string KeyManagementAgent::myPublicKeyId()
{
    {
        std::lock_guard<std::mutex> lock(cacheMutex_);
        if (!keyId_.empty())
            return keyId_;
    }
    const std::string fingerprint = myPublicKeyFingerprint();
    if (fingerprint.size() != kFingerprintLength) {
        debug_log_printf_always("Problem in myPublicKeyId():  myPublicKeyFingerprint() returned: %s\n",
                                fingerprint.c_str());
        debug_log_printf_always("My key ID: \n");
        return std::string();
    }
    const std::string keyId = fingerprint.substr(kFingerprintLength - kKeyIdLength);
    debug_log_printf_always("My key ID: %s\n", keyId.c_str());
    std::lock_guard<std::mutex> lock(cacheMutex_);
    keyId_ = keyId;
    return keyId_;
}

std::string KeyManagementAgent::clientPublicKey()
{
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (publicKey_.empty())
        publicKey_ = readBoundedFile(clientKeyPath(), kLargestPublicKey).toStdString();
    debug_log_printf_always("Client public key: %s\n", publicKey_.c_str());
    return publicKey_;
}

void KeyManagementAgent::postKeys()
{
    const std::string url = managementServiceUrl("/api/initialize");
    if (usingStagingServer())
        debug_log_printf_always("Using WebManagement staging server: %s\n", url.c_str());
    const std::string body = "api_user=" + getMacAddress() + "&fingerprint=" + myPublicKeyFingerprint() +
                             "&key_id=" + myPublicKeyId() + "&public_key=" + urlEncode(clientPublicKey());
    debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "\n===========_postKeys()_=============\n%s\n========================\n",
                     body.c_str());
    wGet(url.c_str(), body.c_str());
}

std::string KeyManagementAgent::urlEncode(const std::string& text)
{
    static const char hexDigits[] = "0123456789abcdef";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        const bool unreserved = (byte < 128 && std::isalnum(byte)) || std::string("!*()'~").find(character) != std::string::npos;
        if (unreserved) {
            encoded += character;
        } else {
            encoded += '%';
            encoded += hexDigits[byte >> 4];
            encoded += hexDigits[byte & 0x0F];
        }
    }
    return encoded;
}
