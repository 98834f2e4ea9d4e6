// app: the context table, and the adapters that let each module keep its
// own typed object in its operations.
#include "app.hpp"

#include "fever.hpp"
#include "game.hpp"
#include "quietmoth.hpp"

namespace {

// The shell exports its own fever_ops. loop_ops_t slots take the object as void *; a context's functions take
// their own record. These adapters convert the pointer, never the function.
template <auto F>
struct op;

template <typename T, T *(*F)(loop_t *, int, char **)>
struct op<F> {
  static void *call(loop_t *loop, int argc, char **argv) { return F(loop, argc, argv); }
};

template <typename T, void (*F)(loop_t *, T *)>
struct op<F> {
  static void call(loop_t *loop, void *object) { F(loop, static_cast<T *>(object)); }
};

template <typename T, void (*F)(loop_t *, T *, const SDL_Event *)>
struct op<F> {
  static void call(loop_t *loop, void *object, const SDL_Event *event)
  {
    F(loop, static_cast<T *>(object), event);
  }
};

const loop_ops_t quietmoth_ops = {
  op<quietmoth_init>::call,
  nullptr,
  op<quietmoth_enter>::call,
  op<quietmoth_leave>::call,
  op<quietmoth_update>::call,
  op<fever_render>::call,
  op<fever_dispatch>::call,
};

const loop_ops_t game_ops = {
  op<game_init>::call,
  nullptr,
  op<game_enter>::call,
  op<game_leave>::call,
  op<game_update>::call,
  op<fever_render>::call,
  op<game_dispatch>::call,
};

}  // namespace

const loop_ops_t *const app_contexts[] = {&fever_ops, &quietmoth_ops, &game_ops, nullptr};
static_assert(APP_SHELL == 0 && APP_LOGO == 1 && APP_GAME == 2, "the table above is in this order");
