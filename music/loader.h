// XM loader and song lifetime. Main thread only.
#pragma once
#include "music/song.h"

struct ModuleStream;

// Reads the module through the registered file callbacks (see module_source.h).
// Null when the module cannot be opened or is refused; nothing stays allocated then.
Song* loadSong(const char* name);
// Fills a zeroed Song from the stream; false on a module the player cannot hold.
// What was allocated before a failure stays in the Song for the caller to release.
bool parseModule(Song* song, ModuleStream* stream);
// Stops playback, then releases the song and everything it owns. False for null.
bool freeSong(Song* song);
