// The logo screen, context 1 of the suite's loop, with time driven through loop_clock.
#include "gl-test.hpp"

#include "images.hpp"
#include "quietmoth.hpp"
#include "tex-node.hpp"

TEST(gl_logo, spans_the_width_and_the_middle_quarter_then_fades_in_holds_and_fades_out_in_3333_ms_phases_and_hands_over) {
  loop_t *loop = gl_loop();  quietmoth_t *q = static_cast<quietmoth_t *>(loop_context(loop, 1));
  tableau_t *root = gl_fever()->root, *node = q->node;
  const tex_node_t *object = static_cast<tex_node_t *>(tableau_get_object(node));  const GLuint id = object->tex->id;
  // Made by start-up: on layer 0 after the clear node, invisible, active; the pixels given back once uploaded.
  EXPECT_EQ(std::tuple(root->layers[0].prev, node->alpha, +node->active, resident(image_logo + 12 + 640 * 112 * 2)),
            std::tuple(&node->link, 0.f, 1, false));
  clear(1, 1, 1), tableau_set_alpha(node, 1), tableau_dirty(root), tableau_render(root, nullptr);
  const frame_t seen;  // then the same frame without the logo, and the logo drawn on it where it belongs
  tableau_set_alpha(node, 0), tableau_dirty(root), tableau_render(root, nullptr);
  tex_t *tex = tex_new(IMAGE_LOGO_WIDTH, IMAGE_LOGO_HEIGHT, image_pixels(image_logo));  float m[16];
  place(m, 0, H * 3 / 8, W, H / 4), tex_render(tex, m, 1), tex_free(tex);
  EXPECT_TRUE(dist(seen.at(0, 0), {0, 0, 0}) == 0 && seen.px == frame_t().px);  // over the clear node's black

  loop_clock = fake_clock, now = 5000, fever_update(loop, nullptr);  // the shell's first frame enters the logo screen
  EXPECT_EQ(std::tuple(loop->current, sdl.music, loop->music_flags), std::tuple(1, "assets/quietmoth.ogg", 0u));
  // Each phase is timed from the end of the one before; the hold redraws nothing.
  const struct { uint32_t at, state; float alpha; bool dirty; } steps[] = {
      {0, 0, 0, true}, {1000, 0, .30003f, true}, {3332, 0, .99970f, true}, {3333, 1, 1, true}, {6665, 1, 1, false},
      {6666, 2, 1, false}, {7666, 2, .69997f, true}, {9998, 2, .00030f, true}, {9999, 3, 0, true}};
  for (auto &s : steps) {
    now = 5000 + s.at, root->dirty = 0, quietmoth_update(loop, q);
    EXPECT_EQ(std::tuple(q->state, +root->dirty, std::round(node->alpha * 1e5f)), std::tuple(s.state, int(s.dirty), std::round(s.alpha * 1e5f))) << s.at;
  }
  quietmoth_update(loop, q), loop_clock = SDL_GetTicks;
  EXPECT_EQ(std::tuple(loop->current, tableau_lookup_name(root, "quietmoth"), glIsTexture(id) || allocated().count(q) + allocated().count(object)),
            std::tuple(2, nullptr, false));  // all freed
  expect_assertions({{[] { quietmoth_t bad = {}; bad.state = 4, quietmoth_update(gl_loop(), &bad); }, "0"}});
}
