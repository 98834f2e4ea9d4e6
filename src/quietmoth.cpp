// quietmoth: the logo screen's fade state machine.
#include "quietmoth.hpp"

#include "app.hpp"
#include "fever.hpp"
#include "images.hpp"
#include "loop/fatal.hpp"
#include "tex-node.hpp"

#include <cassert>
#include <cstdlib>

quietmoth_t *quietmoth_init(loop_t *loop, int, char **)
{
  auto *fever = static_cast<fever_t *>(loop_context(loop, APP_SHELL));
  auto *quietmoth = static_cast<quietmoth_t *>(calloc(1, sizeof(quietmoth_t)));
  if (!quietmoth)
    loop_fatal("Fatal error: Unable to allocate quietmoth_t\n");

  tableau_conf_t conf = {};
  conf.parent = fever->root;
  conf.layer = 0;
  conf.name = "quietmoth";
  conf.alpha = 0.0f;
  conf.active = 1;
  quietmoth->node = tex_node_new_buf(&conf, IMAGE_LOGO_WIDTH, IMAGE_LOGO_HEIGHT,
                                     image_pixels(image_logo), quietmoth->model_x);
  if (!quietmoth->node)
    loop_fatal("Fatal error: Unable to create quietmoth->node\n");
  image_release(image_logo, IMAGE_LOGO_WIDTH, IMAGE_LOGO_HEIGHT);

  // The node reads the matrix only when drawn, so it may be filled now: the
  // unit quad spans the full width and the middle quarter of the height.
  quietmoth->model_x[0] = 1.0f;
  quietmoth->model_x[5] = 0.25f;
  quietmoth->model_x[10] = 0.5f;
  quietmoth->model_x[15] = 1.0f;
  return quietmoth;
}

void quietmoth_enter(loop_t *loop, quietmoth_t *quietmoth)
{
  assert(quietmoth);
  loop_music_set(loop, 0, "assets/quietmoth.ogg");
  loop_ticks_reset(loop, APP_TIMER_LOGO);
}

void quietmoth_leave(loop_t *, quietmoth_t *quietmoth)
{
  assert(quietmoth);
  tableau_free(quietmoth->node);
  free(quietmoth);
}

void quietmoth_update(loop_t *loop, quietmoth_t *quietmoth)
{
  assert(quietmoth);
  switch (quietmoth->state) {
  case QUIETMOTH_FADE_IN:
    // Marked dirty before the test, so the last frame of the fade is drawn
    // with the exact end value.
    tableau_dirty(quietmoth->node);
    if (loop_ticks_elapsed(loop, APP_TIMER_LOGO, QUIETMOTH_STEP_MS)) {
      tableau_set_alpha(quietmoth->node, 1.0f);
      quietmoth->state = QUIETMOTH_SHOW;
    } else {
      tableau_set_alpha(quietmoth->node, (float)loop_ticks(loop, APP_TIMER_LOGO) * QUIETMOTH_FADE);
    }
    break;
  case QUIETMOTH_SHOW:
    // Nothing changes on screen: leaving the tree clean lets the shared
    // render idle instead of redrawing the same picture.
    if (loop_ticks_elapsed(loop, APP_TIMER_LOGO, QUIETMOTH_STEP_MS))
      quietmoth->state = QUIETMOTH_FADE_OUT;
    break;
  case QUIETMOTH_FADE_OUT:
    tableau_dirty(quietmoth->node);
    if (loop_ticks_elapsed(loop, APP_TIMER_LOGO, QUIETMOTH_STEP_MS)) {
      tableau_set_alpha(quietmoth->node, 0.0f);
      quietmoth->state = QUIETMOTH_DONE;
    } else {
      tableau_set_alpha(quietmoth->node,
                        1.0f - (float)loop_ticks(loop, APP_TIMER_LOGO) * QUIETMOTH_FADE);
    }
    break;
  case QUIETMOTH_DONE:
    loop_context_enter(loop, APP_GAME);
    break;
  default:
    assert(0);
  }
}
