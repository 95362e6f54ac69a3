// The mixing pump (library vm_mixing_pump): the mixing thread's work done on the
// main thread, for platforms without threads. Main thread only.
#pragma once

// Renders every block the device has finished and moves heardBlock along, while a
// song plays; does nothing otherwise. The frame loop calls it once per frame: the
// ring's two seconds of lead cover any gap between frames short of that.
void pumpMixing();
