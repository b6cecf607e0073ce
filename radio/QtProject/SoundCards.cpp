// Sound cards from mediastreamer2's card manager.
#include "SoundCards.h"

#include "MediaLibrary.h"

#include <mediastreamer2/mssndcard.h>

namespace SoundCards {
namespace {

constexpr int kPlaybackMixerLevel = 10;

QVector<SoundCardInfo> fromCardManager()
{
    QVector<SoundCardInfo> cards;
    MSSndCardManager* manager = ms_factory_get_snd_card_manager(mediaFactory());
    for (const bctbx_list_t* element = ms_snd_card_manager_get_list(manager); element;
         element = bctbx_list_next(element)) {
        auto* card = static_cast<MSSndCard*>(bctbx_list_get_data(element));
        ms_snd_card_set_level(card, MS_SND_CARD_PLAYBACK, kPlaybackMixerLevel);
        const unsigned int capabilities = ms_snd_card_get_capabilities(card);
        SoundCardInfo info;
        info.name = QString::fromLatin1(ms_snd_card_get_name(card));
        info.id = QString::fromLatin1(ms_snd_card_get_string_id(card));
        info.capture = capabilities & MS_SND_CARD_CAP_CAPTURE;
        info.playback = capabilities & MS_SND_CARD_CAP_PLAYBACK;
        cards.push_back(info);
    }
    return cards;
}

Lister& installedLister()
{
    static Lister lister;
    return lister;
}

} // namespace

QVector<SoundCardInfo> listForSettings()
{
    return installedLister() ? installedLister()() : fromCardManager();
}

void setLister(Lister lister)
{
    installedLister() = std::move(lister);
}

} // namespace SoundCards
