// Placeholder player: replaced by the module source, loader, output and sync
// sources as they are written. Without it the intro runs silently.
#include "audio/output.h"
#include "audio/sync.h"
#include "music/loader.h"
#include "music/module_source.h"

int32_t sampleRate = 0;
void registerFileCallbacks(OpenCallback, CloseCallback, ReadCallback, SeekCallback, TellCallback) {}
bool fileCallbacksComplete() { return false; }
void* openModuleFile(const char*) { return nullptr; }
void closeModuleFile(void*) {}
int32_t readModuleFile(void*, int32_t, void*) { return 0; }
void seekModuleFile(void*, int32_t, int32_t) {}
int32_t tellModuleFile(void*) { return 0; }
Song* loadSong(const char*) { return nullptr; }
bool freeSong(Song*) { return false; }
bool openSoundOutput(int32_t) { return false; }
void closeSoundOutput() {}
bool playSong(Song*) { return false; }
bool stopSong(Song*) { return false; }
void setTempo(Song*, int32_t) {}
int32_t currentOrder(const Song*) { return 0; }
int32_t currentRow(const Song*) { return 0; }
int32_t elapsedTime(const Song*) { return 0; }
int32_t rowUsesInstrument(int32_t) { return 0; }
void setSyncSong(Song*) {}
#include "music/song_channel.h"
void resetSongChannels(int32_t) {}
