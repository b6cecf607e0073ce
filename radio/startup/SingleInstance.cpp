// The lock, the raise request and its answer.
#include "SingleInstance.h"

#include "debug_log.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaiseAnswer = "raised\n";
constexpr int kConnectMs = 500;
constexpr int kAnswerMs = 1000;
constexpr int kRetryPauseMs = 100;

// The lock file in the data folder, which is made when missing.
QString lockPath(const QString& dataFolder)
{
    QDir().mkpath(dataFolder);
    return QDir(dataFolder).filePath(QStringLiteral("RVX4400w.lock"));
}

} // namespace

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent)
    : QObject(parent), name_(serverName(dataFolder)), lock_(lockPath(dataFolder))
{
    // A lock whose holder has ended is taken over at once; a live holder
    // never goes stale by age.
    lock_.setStaleLockTime(0);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::answerConnection);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString& dataFolder)
{
    const QString folder = QDir(dataFolder).absolutePath();
    const QByteArray digest = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    // The user's own runtime folder: no other user can take the name.
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    return runtime + QStringLiteral("/rvx4400w-") + QString::fromLatin1(digest);
}

SingleInstance::Role SingleInstance::claim(int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (takeLock()) {
            listen();
            return Role::First;
        }
        if (askRunningRadioToRaise())
            return Role::Another;
        if (deadline.hasExpired())
            break;
        QThread::msleep(kRetryPauseMs);
    }
    // A radio holds the folder but does not answer (it may be stopped in a
    // debugger): starting a second one would fight it over the same files.
    debug_log_printf_always("Another RVX4400w holds %s but does not answer; not starting a second one\n",
                            lock_.fileName().toLocal8Bit().constData());
    return Role::Another;
}

bool SingleInstance::takeLock()
{
    if (lock_.tryLock(0))
        return true;
    if (lock_.error() == QLockFile::PermissionError) {
        // Without a writable data folder there is nothing to share either.
        debug_log_printf_always("Unable to create %s; running without the one-radio check\n",
                                lock_.fileName().toLocal8Bit().constData());
        return true;
    }
    return false;
}

bool SingleInstance::askRunningRadioToRaise()
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectMs))
        return false;
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(kConnectMs))
        return false;
    QByteArray answer;
    const QDeadlineTimer deadline(kAnswerMs);
    while (!answer.contains('\n') && socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
        answer += socket.readAll();
    return answer == kRaiseAnswer;
}

void SingleInstance::listen()
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock: a socket file left there belongs to a radio that ended.
    QLocalServer::removeServer(name_);
    if (!server_.listen(name_))
        debug_log_printf_always("Unable to listen on %s (%s); another start will not find this radio's window\n",
                                name_.toLocal8Bit().constData(), server_.errorString().toLocal8Bit().constData());
}

void SingleInstance::release()
{
    server_.close();
    QLocalServer::removeServer(name_);
    lock_.unlock();
}

void SingleInstance::retake()
{
    if (takeLock())
        listen();
}

void SingleInstance::answerConnection()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->readAll().contains('\n'))
                return;
            debug_log_printf_always("The radio was started again: bringing its window to the front\n");
            socket->write(kRaiseAnswer);
            socket->flush();
            emit activationRequested();
        });
    }
}
