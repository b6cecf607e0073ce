// The radio's 32-bit identifier, derived from its GnuPG key id; 0 means
// none. It is the SSRC of every stream the radio sends and its trunk node id.
#pragma once

#include <cstdint>

using device_id_t = std::uint32_t;
