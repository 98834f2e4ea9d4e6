// harness: the real application started in-process for the game suites. Each suite's one source
// file includes it: it defines what it declares.
//
// harness_game() runs loop_startup once per process with the real context table (SDL's offscreen
// video in a 64x48 window, dummy audio) in a temporary working directory, removed at exit, whose
// "assets" link to the build's music and effects; enters the game as the logo screen would; and
// hands back a new playfield with every entity but the adult parked outside the quadtree's square.
// The framework's clock reads harness_now, the game's keyboard harness_keys.
//
// Interposed C functions: rand() returns harness_rand's values in order (the C library's once it
// is empty); files opened through SDL are logged as "; file mode", with " freesrc" when loaded as
// an effect; effects played are logged by name (a "!" marks arguments other than channel -1, no
// loop, no time limit).
#pragma once

#include "app.hpp"
#include "game.hpp"
#include "sfx.hpp"
#include "tex-node.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

uint32_t harness_now = 1000, harness_played[SFX_CNT], harness_entered_ticks[LOOP_TICKS_CNT];
uint8_t harness_keys[SDL_NUM_SCANCODES];
std::deque<int> harness_rand;
std::string harness_sounds;
std::string harness_loads;  // "; file mode freesrc" per effect loaded
const uint8_t *(*harness_sdl_keyboard)(void);
const std::string HARNESS_EFFECTS[SFX_CNT] = {"baby-infected", "baby-held", "baby-rescued", "adult-infected"};
std::map<const Mix_Chunk *, int> harness_effect_of;

template <typename F> F harness_next(F, const char *name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

extern "C" int rand(void) noexcept {
  const int value = harness_rand.empty() ? harness_next(&rand, "rand")() : harness_rand.front();
  return harness_rand.empty() ? value : (harness_rand.pop_front(), value);
}

extern "C" SDL_RWops *SDL_RWFromFile(const char *file, const char *mode) {
  harness_loads += "; " + std::string(file) + " " + mode;
  return harness_next(&SDL_RWFromFile, "SDL_RWFromFile")(file, mode);
}

extern "C" Mix_Chunk *Mix_LoadWAV_RW(SDL_RWops *src, int freesrc) {
  Mix_Chunk *chunk = harness_next(&Mix_LoadWAV_RW, "Mix_LoadWAV_RW")(src, freesrc);
  harness_loads += " " + std::to_string(freesrc);
  for (int i = 0; i < SFX_CNT; i++)  // the effect named after the last '/' (npos + 1 is 0: not found)
    if (harness_loads.rfind(HARNESS_EFFECTS[i]) + 1 > harness_loads.rfind('/') + 1) harness_effect_of[chunk] = i;
  return chunk;
}

extern "C" int Mix_PlayChannelTimed(int channel, Mix_Chunk *chunk, int loops, int ticks) {
  const int i = harness_effect_of.count(chunk) ? harness_effect_of[chunk] : (harness_sounds += "?", -1);
  harness_sounds += i < 0 ? "" : (harness_played[i]++, HARNESS_EFFECTS[i]);
  harness_sounds += channel == -1 && !loops && ticks == -1 ? " " : "! ";
  return harness_next(&Mix_PlayChannelTimed, "Mix_PlayChannelTimed")(channel, chunk, loops, ticks);
}

std::vector<tableau_t *> harness_children(tableau_t *node, int layer) {
  std::vector<tableau_t *> out;
  for (tableau_link_t *l = node->layers[layer].next; l != &node->layers[layer]; l = l->next)
    out.push_back(reinterpret_cast<tableau_t *>(reinterpret_cast<char *>(l) - offsetof(tableau_t, link)));
  return out;
}

// Record i of the playfield, in the order carved: the television, the adult, the viruses, the babies.
entity_t *harness_record(game_t *game, long i) {
  return reinterpret_cast<entity_t *>((char *)game->tv + i * ((char *)game->adult - (char *)game->tv));
}

void harness_place(game_t *game, entity_t *entity, float x, float y) {
  entity->x = x, entity->y = y, entity_update(game->qtree, entity);
}

game_t *harness_game(loop_t **loop_out = nullptr) {
  static loop_t *loop;
  static char dir[] = "/tmp/orb-game-XXXXXX", arg0[] = "orb", arg1[] = "--window", arg2[] = "64x48";
  static char *argv[] = {arg0, arg1, arg2, nullptr};
  if (!loop) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1), setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_TRUE(mkdtemp(dir) && !chdir(dir) && !mkdir("assets", 0700));
    atexit([] { std::filesystem::remove_all(dir); });
    for (std::string name : {"quietmoth.ogg", "game.ogg", "baby-infected.wav", "baby-held.wav", "baby-rescued.wav",
                             "adult-infected.wav"})
      EXPECT_EQ(symlink((ORB_ASSETS_DIR "/" + name).c_str(), ("assets/" + name).c_str()), 0);
    loop_clock = [] { return harness_now; };
    harness_sdl_keyboard = std::exchange(game_keyboard, [] { return (const uint8_t *)harness_keys; });
    loop = loop_startup(3, argv, app_contexts);
    harness_now = 5000, loop_context_enter(loop, 2);  // as the logo screen does when it ends
    memcpy(harness_entered_ticks, loop->ticks, sizeof loop->ticks);
  }
  auto *game = static_cast<game_t *>(loop_context(loop, 2));
  game_reset(game);
  for (int i = 0; i < 20; i++)  // far outside the square from -1 to 1, where no search finds anything
    (void)(i != 1 && (harness_place(game, harness_record(game, i), 5.0f, -5.0f), 1));
  harness_rand.clear(), harness_sounds.clear();
  return loop_out ? (*loop_out = loop, game) : game;
}

// One pass of the real main loop (update, render, the queued events), with a key event queued.
void harness_frame(loop_t *loop, uint32_t key_event = 0, SDL_Keycode key = 0) {
  SDL_Event event[2] = {};
  event[0].key.type = key_event, event[0].key.keysym.sym = key, event[1].type = SDL_QUIT;
  // SDL_PollEvent queues a sentinel that ends one round of polling; the round that met our quit
  // event left its sentinel behind, and a quit queued after it would be seen one update late.
  SDL_FlushEvent(SDL_POLLSENTINEL), SDL_PushEvent(&event[!key_event]), (void)(key_event && SDL_PushEvent(&event[1]));
  loop_run(loop);
}
