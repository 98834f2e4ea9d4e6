// loop: the ten tick timers.
//
// Every difference is taken in unsigned 32-bit arithmetic, so the timers
// stay right across the wrap of the tick count after about 49 days.
#include "loop/loop.hpp"

#include <cassert>

uint32_t (*loop_clock)(void) = SDL_GetTicks;

namespace {

// A pause lasts until any timer is used again; the time spent paused is then
// handed to all ten at once, so none of them ever sees it.
void resume(loop_t *loop)
{
  if (!loop->paused)
    return;
  const uint32_t paused_for = loop_clock() - loop->paused_at;
  for (unsigned i = 0; i < LOOP_TICKS_CNT; i++)
    loop->ticks[i] += paused_for;
  loop->paused = 0;
}

}  // namespace

uint32_t loop_ticks(loop_t *loop, unsigned timer)
{
  assert(loop);
  assert(timer < LOOP_TICKS_CNT);
  resume(loop);
  return loop_clock() - loop->ticks[timer];
}

void loop_ticks_reset(loop_t *loop, unsigned timer)
{
  assert(loop);
  assert(timer < LOOP_TICKS_CNT);
  resume(loop);
  loop->ticks[timer] = loop_clock();
}

int loop_ticks_elapsed(loop_t *loop, unsigned timer, uint32_t period)
{
  assert(loop);
  assert(timer < LOOP_TICKS_CNT);
  if (loop_ticks(loop, timer) < period)
    return 0;
  // The new period starts now, not at the old base plus the period: a step
  // checked late is not made up for.
  loop_ticks_reset(loop, timer);
  return 1;
}

void loop_ticks_pause(loop_t *loop)
{
  if (loop->paused)
    return;
  loop->paused = 1;
  loop->paused_at = loop_clock();
}
