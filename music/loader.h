// XM loader and song lifetime. Main thread only.
#pragma once
#include "music/song.h"

Song* loadSong(const char* name); // null on failure
bool freeSong(Song* song);        // stops playback first
