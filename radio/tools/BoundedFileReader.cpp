// Whole-file reads with a size limit, for the key and settings files.
#include "BoundedFileReader.h"

#include <QFile>

QByteArray readBoundedFile(const QString& path, qint64 maxSize)
{
    QFile file(path);
    const std::string name = path.toLatin1().toStdString();
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("File " + name + " could not be opened (may not exist)");
    const qint64 size = file.size();
    if (size > maxSize)
        throw std::runtime_error("File " + name + " size of " + std::to_string(size) +
                                 " exceeds specified max_size of " + std::to_string(maxSize));
    // Read one byte more than allowed, in case the file grew since size().
    const QByteArray contents = file.read(maxSize + 1);
    if (contents.size() > maxSize)
        throw std::runtime_error("File " + name + " size of " + std::to_string(contents.size()) +
                                 " exceeds specified max_size of " + std::to_string(maxSize));
    return contents;
}
