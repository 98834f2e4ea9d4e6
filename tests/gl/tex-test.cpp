// Textures, checked on the pixels GL draws.
#include "gl-test.hpp"

TEST(gl_tex, draws_upright_unmirrored_bilinear_and_faded_by_alpha_over_what_is_drawn_until_its_last_reference_goes) {
  static const uint8_t px[8][4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255},  // 4 x 2 texels
                            {0, 255, 255, 255}, {255, 0, 255, 255}, {255, 255, 255, 255}, {128, 64, 32, 255}};
  const uint8_t fading[2][4] = {{255, 255, 255, 128}, {255, 0, 0, 0}};
  tex_t *tex = (gl_loop(), tex_new(4, 2, px)), *fade = tex_new(2, 1, fading);
  EXPECT_EQ(bound(), 0);  // making, and below drawing, leave no program, texture or buffer bound
  float m[16];  place(m, 96, 64, 400, 200);
  for (auto [matrix, x, y, w, h] : {std::tuple(IDENTITY, 0, 0, W, H), std::tuple((const float *)m, 96, 64, 400, 200)}) {
    clear(0, 0, 0), tex_render(tex, matrix, 1);
    const frame_t f;
    for (int i = 0; i < 8; i++)  // each texel in the middle of its eighth of the rectangle, the first row on top
      EXPECT_LE(dist(f.at(x + w * (i % 4 * 2 + 1) / 8, y + h * (i / 4 * 2 + 1) / 4), {px[i][0], px[i][1], px[i][2]}), 2) << i;
  }
  clear(0, 0, 1), place(m, 0, 0, 64, 2), tex_render(tex, m, 1);   // 16 pixels a texel: pixel 16 is 0.53 of the way from red to green
  place(m, 0, 8, 2, 2), tex_render(tex, m, 1);    // 2 texels a pixel: half red, half green
  place(m, 0, 16, 2, 1), tex_render(fade, m, 1);  // white at 128 / 255 over blue, and a clear texel
  place(m, 0, 24, 2, 1), tex_render(fade, m, .5f), tex_free(fade);
  const frame_t f;
  EXPECT_EQ(bound(), 0);
  EXPECT_LE(dist(f.at(16, 0), {120, 135, 0}) + dist(f.at(0, 8), {128, 128, 0}), 6);
  EXPECT_LE(dist(f.at(0, 16), {128, 128, 255}) + dist(f.at(0, 24), {64, 64, 255}) + dist(f.at(1, 16), {0, 0, 255}) + dist(f.at(1, 24), {0, 0, 255}), 2);
  // A texture lives until its last reference.
  const GLuint id = tex->id;
  EXPECT_EQ(tex_ref(tex), tex);  // a second reference beside tex_new's
  EXPECT_TRUE(!tex_free(tex) && glIsTexture(id));
  EXPECT_TRUE(!tex_free(tex) && !glIsTexture(id) && !allocated().count(tex) && !tex_free(nullptr));
  expect_assertions({{[] { tex_t *t = tex_new(4, 2, px); t->refcnt = 0, tex_free(t); }, "tex->refcnt > 0"}});
}
