// The start-up steps that build the media side of the radio: the radio's
// streams as media streams, the audio channel stored in the radio, its
// streams attached with the public-address loop, and the links between the
// audio channel, the radio and the main window.
#pragma once

#include "RadioStream.h"

#include <memory>

class HardwareAudioChannel;
class QObject;
class VirtualRadio;

// The radio's stream factory for the program: trunk-carried media streams,
// whose sender keys are numbered from a start stamp kept in the local
// settings (set up with the first stream).
std::unique_ptr<RadioStream> createHalvaneChannel(RadioStreamKind kind, int pin);

// Creates the audio channel and stores it in the radio.
HardwareAudioChannel* createAudioChannel(VirtualRadio* radio);

// Attaches the channel, individual-call receive and transmit streams on
// pins 0, 1 and 2, then the public-address loop on pin 3; links the radio's
// volume to the playback gain (applying the volume already restored), the
// watchdog's restart request to restarter's miForceRestart(), and packets for
// this unit's individual-call address to the radio's incoming-call entry.
void attachRadioToAudioChannel(VirtualRadio* radio, HardwareAudioChannel* audio, QObject* restarter);
