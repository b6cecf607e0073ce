// The sound cards the settings dialog offers, from the media library's card
// manager, or from a list a test installed.
#pragma once

#include <QString>
#include <QVector>

#include <functional>

struct SoundCardInfo
{
    QString name;
    QString id;
    bool capture = false;
    bool playback = false;
};

namespace SoundCards {

using Lister = std::function<QVector<SoundCardInfo>()>;

// Every card the media library knows; each card's playback mixer level is
// set to 10 on the way, as the dialog does when it opens.
QVector<SoundCardInfo> listForSettings();
// Replaces the lister; an empty one restores the media library's.
void setLister(Lister lister);

} // namespace SoundCards
