// Replacing a file so that a failed write never costs its old contents.
#pragma once

#include <QByteArray>
#include <QString>

// Writes contents to a temporary file beside path, makes sure they reached
// the disk, reads them back, and only then renames the file over path.
// Qt's own writers (QSaveFile, QSettings) report success on a full disk and
// leave an empty file, which is why every write is read back here. Returns
// false with the reason in *error when anything fails; path is then left
// as it was.
bool replaceFileVerified(const QString& path, const QByteArray& contents, QString* error);

// The whole file, or an empty array when it cannot be read.
QByteArray readWholeFile(const QString& path);
