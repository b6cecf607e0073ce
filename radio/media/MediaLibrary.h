// The RTP and media libraries of the process: oRTP initialised once, the one
// mediastreamer2 factory (with its voice filters) used for every filter,
// codec and sound-card lookup, and the payload numbers of the profile.
#pragma once

#include <mediastreamer2/msfactory.h>

// Initialises oRTP and creates the factory; later calls do nothing.
void initMediaLibrary();

// The start-up step for the media libraries: oRTP and its scheduler, the
// payload numbers, the session size notice, oRTP's log level from the
// ORTP_DEBUG_LEVEL_* flags, and the factory.
void startMediaLibraries();

// The process-wide factory (created by initMediaLibrary on first use).
MSFactory* mediaFactory();

// Adds the extra payload types to oRTP's audio/video profile under the
// numbers other radios use; call once, before the first stream is built.
void registerPayloadTypes();
