// The song engine's per-channel state: a fixed table of 32 channel records, one
// per pattern channel, read and written on the mixing thread.
#pragma once
#include <cstdint>

// Zero the first `count` channel records and bind record c to voice c.
// Called by playSong before the prefill.
void resetSongChannels(int32_t count);
