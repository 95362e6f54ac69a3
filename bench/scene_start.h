// The main scene brought up for a frames-per-second measurement, free of any
// platform: the shell's own start-up (window, display device, plugins, sound, music),
// the opening run through in a few long frames, then the frame clock started. The
// song is mixed by its thread into the virtual wave output, which advanceSceneAudio
// moves on in real time. Used by the OpenGL benchmark (scene_fps.cpp) and the
// Windows one (scene_fps_windows.cpp). Main thread only.
#pragma once

// Returns true once the opening has handed over to the main scene.
bool startMainScene();

// Moves the wave output on by the wall-clock time since the last call, so that the
// mixing thread renders blocks at the rate a sound card would take them.
void advanceSceneAudio();
