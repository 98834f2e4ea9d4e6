// Helpers shared by the SDL-backed loop suites.
#pragma once

#include <string>

// Select the dummy audio and offscreen video drivers (before any SDL_Init).
void support_sdl_drivers(void);
// Make a fresh empty directory under the system's temporary directory.
std::string support_temp_dir(void);
// Run fn with the standard error stream written to a file; return the text.
std::string support_capture_stderr(void (*fn)(void *), void *arg);
