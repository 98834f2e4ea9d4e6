// sfx: loading and starting the game's sound effects.
#include "sfx.hpp"

#include <SDL.h>

Mix_Chunk *baby_infected_sfx;
Mix_Chunk *baby_held_sfx;
Mix_Chunk *baby_rescued_sfx;
Mix_Chunk *adult_infected_sfx;

uint32_t sfx_started[SFX_CNT];

namespace {

Mix_Chunk *load(const char *file)
{
  // A missing or unreadable file leaves its effect silent, without a word:
  // the game plays on without it.
  SDL_RWops *rw = SDL_RWFromFile(file, "rb");
  if (!rw)
    return nullptr;
  return Mix_LoadWAV_RW(rw, 1);
}

}  // namespace

void sfx_load(void)
{
  baby_infected_sfx = load("assets/baby-infected.wav");
  baby_held_sfx = load("assets/baby-held.wav");
  baby_rescued_sfx = load("assets/baby-rescued.wav");
  adult_infected_sfx = load("assets/adult-infected.wav");
}

void sfx_start(Mix_Chunk *chunk)
{
  if (!chunk)
    return;
  Mix_Chunk *const chunks[SFX_CNT] = {baby_infected_sfx, baby_held_sfx, baby_rescued_sfx,
                                      adult_infected_sfx};
  for (int i = 0; i < SFX_CNT; i++) {
    if (chunks[i] == chunk) {
      sfx_started[i]++;
      break;
    }
  }
  // With every channel busy the effect is simply dropped.
  Mix_PlayChannelTimed(-1, chunk, 0, -1);
}
