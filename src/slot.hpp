// slot: the one way from the frameworks' untyped callback slots to a
// module's typed functions.
//
// libloop's context table and libtableau's node tables hold functions that
// take the object as void *; each module writes its operations with its own
// record type (game_update(loop_t *, game_t *)). slot<F>::call is a function
// of the slot's exact type that converts the pointer and calls F, so a table
// reads { slot<game_init>::call, ... } and no function pointer is ever cast.
//
// Does NOT: check the object's type (the table pairs each function with the
// object it was made for), allocate, or add a call at run time beyond the
// conversion (the compiler inlines F or calls it directly).
#pragma once

#include "loop/loop.hpp"
#include "tableau/tableau.hpp"

template <auto F> struct slot;

// Context operations (loop_ops_t).
template <typename T, T *(*F)(loop_t *, int, char **)> struct slot<F> {
  static void *call(loop_t *loop, int argc, char **argv) { return F(loop, argc, argv); }
};

template <typename T, void (*F)(loop_t *, T *)> struct slot<F> {
  static void call(loop_t *loop, void *object) { F(loop, static_cast<T *>(object)); }
};

template <typename T, void (*F)(loop_t *, T *, const SDL_Event *)> struct slot<F> {
  static void call(loop_t *loop, void *object, const SDL_Event *event)
  {
    F(loop, static_cast<T *>(object), event);
  }
};

// Node kinds (tableau_ops_t).
template <typename T, void (*F)(tableau_t *, T *, void *, float)> struct slot<F> {
  static void call(tableau_t *tableau, void *object, void *arg, float alpha)
  {
    F(tableau, static_cast<T *>(object), arg, alpha);
  }
};

template <typename T, void (*F)(tableau_t *, T *)> struct slot<F> {
  static void call(tableau_t *tableau, void *object) { F(tableau, static_cast<T *>(object)); }
};
