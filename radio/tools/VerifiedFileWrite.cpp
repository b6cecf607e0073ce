// Verified whole-file replacement: temporary file, flush and fsync, read
// back, atomic rename.
#include "VerifiedFileWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The new directory entry survives a power cut only once the folder is synced.
void syncFolder(const QString& folder)
{
    const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

} // namespace

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool replaceFileVerified(const QString& path, const QByteArray& contents, QString* error)
{
    const QFileInfo target(path);
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                             QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        return fail(error, temporary.errorString());
    if (temporary.write(contents) != contents.size() || !temporary.flush())
        return fail(error, temporary.errorString());
    if (::fsync(temporary.handle()) != 0)
        return fail(error, systemError());
    temporary.close();
    if (readWholeFile(temporary.fileName()) != contents)
        return fail(error, QStringLiteral("the written file does not read back as written"));
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return fail(error, systemError());
    temporary.setAutoRemove(false);
    syncFolder(target.absolutePath());
    return true;
}
