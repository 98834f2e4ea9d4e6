// harness: the real application started in-process for the game suites.
//
// harness_start() runs loop_startup with the real context table in a fresh
// working directory whose "assets" link to the build's music and effects,
// with SDL's offscreen video and dummy audio drivers, the framework's clock
// replaced by harness_now and the game's keyboard seam pointed at
// harness_keys. Every test process starts it once.
#pragma once

#include "game.hpp"
#include "loop/loop.hpp"
#include "tableau/tableau.hpp"

#include <SDL.h>

#include <cstdint>
#include <vector>

extern uint32_t harness_now;                   // what loop_clock returns (ms)
extern uint8_t harness_keys[SDL_NUM_SCANCODES]; // what the game reads as the keyboard

// Start the application (context 0 current); sfx: provide the four effects.
loop_t *harness_start(bool sfx = true);
// Start it and enter the game directly (context 2), as the logo screen would.
game_t *harness_game(loop_t **loop_out = nullptr);
// One frame of the real main loop: queued events are dispatched, then it returns.
void harness_frame(loop_t *loop);
// Advance the clock by ms and run one game_update.
void harness_step(loop_t *loop, game_t *game, uint32_t ms = GAME_STEP_MS);
// Queue a key press (and its release) for the next frame.
void harness_key(SDL_Keycode sym, SDL_Scancode scancode);

// The children of a node on one layer, in drawing order.
std::vector<tableau_t *> harness_children(tableau_t *node, int layer);
// The entity whose model_x a sprite node draws with.
entity_t *harness_entity(tableau_t *sprite);
// Every entity on the playfield, in the order the quadtree reports them.
std::vector<entity_t *> harness_entities(game_t *game);
// Move an entity and re-place it in the quadtree.
void harness_place(game_t *game, entity_t *entity, float x, float y);
// Park every baby and virus out of the adult's way (outside the quadtree's square).
void harness_clear_field(game_t *game);
