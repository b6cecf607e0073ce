// One running radio per data folder. The first start holds a lock file in
// the data folder and listens on a local socket in the user's runtime
// folder; a later start with the same folder finds the lock, asks the
// running radio through the socket to bring its window to the front, and
// ends before it touches the key ring, the sound cards or the ports. Radios
// with different data folders (several units on one machine) run side by
// side.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role { First, Another };

    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the running radio, or has the running one raise its window.
    // A radio that is ending (a restart) is waited for up to waitMs.
    Role claim(int waitMs = 10000);

    // Lets go of the lock and the socket so that a restarted copy can take
    // them; retake() holds them again when that copy could not start.
    void release();
    void retake();

    // The socket's name (a path) for a data folder.
    static QString serverName(const QString& dataFolder);

signals:
    // Another start of the radio asked for the window.
    void activationRequested();

private:
    bool takeLock();
    bool askRunningRadioToRaise();
    void listen();
    void answerConnection();

    const QString name_;
    QLockFile lock_;
    QLocalServer server_;
};
