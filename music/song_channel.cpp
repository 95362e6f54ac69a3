// The song engine's channel table. resetSongChannels runs on the thread that
// calls playSong, before any tick; the engine then owns the table on the mixing
// thread.
#include "music/song_channel.h"

#include "audio/mixer.h"

SongChannel songChannels[songChannelCount];

void resetSongChannels(int32_t count) {
    if (count > songChannelCount) count = songChannelCount;
    for (int32_t c = 0; c < count; ++c) {
        songChannels[c] = SongChannel{};
        songChannels[c].voice = &mixChannels[c];
    }
}
