// How the output side keeps the ring ahead of the device while a song plays, chosen
// at link time: mixing_thread.cpp (library vm_mixing_thread) runs a time-critical
// thread that polls every 5 ms; mixing_pump.cpp (library vm_mixing_pump) does the
// same work on the main thread whenever the program's frame loop calls pumpMixing
// (mixing_pump.h), for platforms without threads.
// Both are called by output.cpp on the main thread only.
#pragma once

// Begins calling pollOutputOnce regularly. playSong calls it once the ring is
// prefilled and the device started.
void startMixing();

// Ends the polling: when it returns, pollOutputOnce is not running and will not be
// called again until the next startMixing. Harmless when nothing was started.
void stopMixing();
