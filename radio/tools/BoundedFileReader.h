// Reads a whole file that must not exceed a size limit.
#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// The file's contents. Throws std::runtime_error with
// "File PATH could not be opened (may not exist)" or
// "File PATH size of N exceeds specified max_size of LIMIT".
QByteArray readBoundedFile(const QString& path, qint64 maxSize);
