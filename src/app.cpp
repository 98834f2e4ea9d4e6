// app: the context table. The shell exports its own fever_ops; the logo
// screen and the game are wired here through slot<>, so that each keeps its
// own typed object in its operations.
#include "app.hpp"

#include "fever.hpp"
#include "game.hpp"
#include "quietmoth.hpp"
#include "slot.hpp"

namespace {

const loop_ops_t quietmoth_ops = {
    slot<quietmoth_init>::call,   nullptr,
    slot<quietmoth_enter>::call,  slot<quietmoth_leave>::call,
    slot<quietmoth_update>::call, slot<fever_render>::call,
    slot<fever_dispatch>::call,
};

const loop_ops_t game_ops = {
    slot<game_init>::call,     nullptr,
    slot<game_enter>::call,    slot<game_leave>::call,
    slot<game_update>::call,   slot<fever_render>::call,
    slot<game_dispatch>::call,
};

}  // namespace

const loop_ops_t *const app_contexts[] = {&fever_ops, &quietmoth_ops, &game_ops, nullptr};
static_assert(APP_SHELL == 0 && APP_LOGO == 1 && APP_GAME == 2, "the table above is in this order");
