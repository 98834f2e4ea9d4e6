// sfx: the game's four short sound effects.
//
// sfx_load() reads the four WAV files once, at start-up, after the framework
// has opened the audio device; sfx_start() plays one of them on the first free
// mixing channel. A file that is missing or unreadable leaves its chunk null,
// and a null chunk is silently not played: sound never stops the game.
//
// Ownership: the chunks are loaded once and never freed.
//
// Does NOT: play music (the framework does), print anything, retry a load,
// queue an effect when every channel is busy (it is dropped).
#pragma once

#include <SDL_mixer.h>

#include <cstdint>

// Null until sfx_load(), then the loaded chunk or null when its file failed.
extern Mix_Chunk *baby_infected_sfx;   // "assets/baby-infected.wav"
extern Mix_Chunk *baby_held_sfx;       // "assets/baby-held.wav"
extern Mix_Chunk *baby_rescued_sfx;    // "assets/baby-rescued.wav"
extern Mix_Chunk *adult_infected_sfx;  // "assets/adult-infected.wav"

// Test seam: how many times each loaded chunk was handed to the mixer, in the
// order of the chunks above. Nothing in the program reads it.
constexpr int SFX_CNT = 4;
extern uint32_t sfx_started[SFX_CNT];

// Load the four effects from the working directory's "assets"; nothing printed.
void sfx_load(void);
// Play a chunk once on the first free channel; null plays nothing.
void sfx_start(Mix_Chunk *chunk);
