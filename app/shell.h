// The application shell: start-up in its fixed order, the event and frame loop,
// the composition of every frame and the one exit routine, fatalExit, through which
// the program ends in every case. Start-up, one frame and teardown are separate
// functions, so that a program that drives frames itself (the offline capture) can
// use them without the event loop. Main thread only; startMusic starts the mixing
// thread, which shutdownSound stops.
#pragma once
#include <cstdint>

struct Song;
struct WindowEvent;

// Start-up steps 1 to 10: window system, window, cursor, display device, demo
// plugins, sound, showing the window, music, frame clock. Ends the program through
// fatalExit on a fatal failure.
void startShell();

// Polls events and draws a frame whenever none is waiting, until running is 0;
// then fatalExit(nullptr).
[[noreturn]] void runLoop();
// The loop's condition: running, or the first activation still awaited. A frame
// loop driven from outside (the browser's) checks it after dispatching the events
// and ends with fatalExit(nullptr) once it is false.
bool loopContinues();

// Clears, ticks the frame clock, draws the picture sequence and, once it hands over,
// the main effects and the white-out, and presents.
void renderFrame();
// renderFrame without the final present: the finished picture is still in the back
// buffer, where the offline capture reads it back before presenting it itself.
void composeFrame();

// Carries out the window procedure's response to one event.
void dispatchWindowEvent(const WindowEvent& event);

// Tears everything down in order, shows `message` (null: none) and exits: code 0
// after a normal end, 1 when a message is shown. Safe from any point of start-up.
[[noreturn]] void fatalExit(const char* message);

// Baseline device states, the random seed and the five plugin inits (in the order
// backdrop, tube, text scroller, corner panels, picture sequence; all are called).
// Returns 0; a failure ends the program with "Can't init demo plugins".
int32_t initDemoPlugins();
// File callbacks, the 44100 Hz output and the song. A failure to open the output is
// reported in a box and the intro goes on without music.
void initSound();
// Plays the song when one was loaded.
void startMusic();
// Plugin shutdowns in init order; each is safe after a partial init or none.
void shutdownDemoPlugins();
// Stops and frees the song, then closes the output; safe when nothing was started.
void shutdownSound();

// Non-zero while the loop may continue.
int32_t shellRunning();
// The loaded song; null when there is no music.
Song* shellSong();
