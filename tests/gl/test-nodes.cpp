// The cached digit and sprite nodes, and the plasma background.
#include "digit-node.hpp"
#include "gl-fixture.hpp"
#include "images.hpp"
#include "plasma-node.hpp"
#include "shader-node.hpp"
#include "sprite-node.hpp"
#include "tex-node.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const float IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

class nodes_test : public ::testing::Test {
protected:
  void SetUp() override
  {
    gl_test_loop();
    root = gl_test_root(1.f);
  }
  void TearDown() override { tableau_free(root); }
  tableau_conf_t conf(const char *name, float alpha = 1.f)
  {
    return tableau_conf_t{.parent = root, .layer = 1, .name = name, .alpha = alpha, .active = 1,
                          .locked = 0, .dirty = 0};
  }
  tableau_t *root;
};

tex_t *tex_of(tableau_t *node)
{
  return static_cast<tex_node_t *>(tableau_get_object(node))->tex;
}

uint32_t fake_now;
uint32_t fake_clock(void)
{
  return fake_now;
}

TEST_F(nodes_test, a_hundred_nodes_of_one_digit_upload_one_texture)
{
  const tableau_conf_t c = conf("digit");
  std::vector<tableau_t *> nodes;
  for (int i = 0; i < 100; i++)
    nodes.push_back(digit_node_new(&c, 7, IDENTITY));
  tex_t *tex = tex_of(nodes[0]);
  for (tableau_t *node : nodes)
    EXPECT_EQ(tex_of(node), tex);
  EXPECT_EQ(tex->refcnt, 101u);  // the cache's reference and one per node
  for (int i = 0; i < 60; i++)
    tableau_free(nodes[i]);
  EXPECT_EQ(tex->refcnt, 41u);
  for (int i = 60; i < 100; i++)
    tableau_free(nodes[i]);
  EXPECT_EQ(tex->refcnt, 1u);
  EXPECT_TRUE(glIsTexture(tex->id));
  tableau_t *again = digit_node_new(&c, 7, IDENTITY);
  EXPECT_EQ(tex_of(again), tex);
  EXPECT_NE(tex_of(digit_node_new(&c, 0, IDENTITY)), tex);
  EXPECT_NE(tex_of(digit_node_new(&c, 9, IDENTITY)), tex);
}

TEST_F(nodes_test, every_digit_has_a_texture_of_its_own)
{
  const tableau_conf_t c = conf("digit");
  std::vector<tex_t *> texs;
  for (unsigned d = 0; d < 10; d++) {
    texs.push_back(tex_of(digit_node_new(&c, d, IDENTITY)));
    for (unsigned e = 0; e < d; e++)
      EXPECT_NE(texs[e], texs[d]) << e << " and " << d;
  }
}

using nodes_death_test = nodes_test;

TEST_F(nodes_death_test, there_is_no_digit_ten)
{
  const tableau_conf_t c = conf("digit");
  EXPECT_DEATH(digit_node_new(&c, 10, IDENTITY), "digit < 10");
  EXPECT_DEATH(digit_node_new(&c, unsigned(-1), IDENTITY), "digit < 10");
}

TEST_F(nodes_test, sprite_textures_are_uploaded_once_and_outlive_their_nodes)
{
  const tableau_conf_t c = conf("baby");
  tableau_t *a = baby_node_new(&c, IDENTITY);
  tableau_t *b = baby_node_new(&c, IDENTITY);
  tex_t *baby = tex_of(a);
  EXPECT_EQ(tex_of(b), baby);
  EXPECT_EQ(baby->refcnt, 3u);
  tableau_free(a);
  tableau_free(b);
  EXPECT_EQ(baby->refcnt, 1u);
  EXPECT_TRUE(glIsTexture(baby->id));
  EXPECT_EQ(tex_of(baby_node_new(&c, IDENTITY)), baby);

  // Each constructor has a cache of its own; every virus shares one texture.
  tex_t *adult = tex_of(adult_node_new(&c, IDENTITY));
  tex_t *tv = tex_of(tv_node_new(&c, IDENTITY));
  tex_t *virus = tex_of(virus_node_new(&c, IDENTITY));
  EXPECT_NE(adult, baby);
  EXPECT_NE(tv, baby);
  EXPECT_NE(virus, baby);
  EXPECT_NE(adult, tv);
  EXPECT_NE(adult, virus);
  EXPECT_NE(tv, virus);
  EXPECT_EQ(tex_of(adult_node_new(&c, IDENTITY)), adult);
  EXPECT_EQ(tex_of(tv_node_new(&c, IDENTITY)), tv);
  EXPECT_EQ(tex_of(virus_node_new(&c, IDENTITY)), virus);
  EXPECT_EQ(virus->refcnt, 3u);

  // A new playfield: free everything and rebuild; no texture is made anew.
  tableau_free_children(root);
  EXPECT_EQ(adult->refcnt, 1u);
  EXPECT_EQ(virus->refcnt, 1u);
  EXPECT_EQ(tex_of(adult_node_new(&c, IDENTITY)), adult);
  EXPECT_EQ(tex_of(virus_node_new(&c, IDENTITY)), virus);
}

TEST_F(nodes_test, sprites_show_their_own_image)
{
  // The virus image is drawn at its own size at the top left: its centre
  // texel must come out as the record says (blended over black).
  float m[16];
  gl_test_place(m, 0, 0, 362, 363);
  const tableau_conf_t c = conf("virus");
  virus_node_new(&c, m);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, NULL);
  gl_test_frame_t f = gl_test_read();
  const unsigned char *px = image_pixels(image_virus) + (181 * 362 + 181) * 4;
  for (int ch = 0; ch < 3; ch++)
    EXPECT_NEAR(f.at(181, 181)[ch], px[ch] * px[3] / 255, 2) << ch;
}

GLuint program_of(tableau_t *node)
{
  return static_cast<shader_node_t *>(tableau_get_object(node))->shader->program;
}

TEST_F(nodes_test, plasma_time_is_seconds_of_tick_timer_zero_and_alpha_the_effective_opacity)
{
  loop_t *loop = gl_test_loop();
  uint32_t (*real_clock)(void) = loop_clock;
  loop_clock = fake_clock;
  fake_now = 100000;
  loop_ticks_reset(loop, 0);
  fake_now += 2500;

  const tableau_conf_t group_conf = conf("group", 0.5f);
  tableau_t *group = tableau_new(&group_conf, NULL, NULL);
  const tableau_conf_t c = {.parent = group, .layer = 0, .name = "plasma", .alpha = 0.8f,
                            .active = 1, .locked = 0, .dirty = 0};
  tableau_t *plasma = plasma_node_new(&c);
  shader_t *shader = static_cast<shader_node_t *>(tableau_get_object(plasma))->shader;
  ASSERT_EQ(shader->n_uniforms, 2u);
  EXPECT_EQ(shader->refcnt, 1u);
  GLint alpha_at = glGetUniformLocation(shader->program, "alpha");
  GLint time_at = glGetUniformLocation(shader->program, "time");
  EXPECT_EQ(shader->uniforms[0], alpha_at);
  EXPECT_EQ(shader->uniforms[1], time_at);

  tableau_render(root, loop);
  float value = -1;
  glGetUniformfv(program_of(plasma), time_at, &value);
  EXPECT_FLOAT_EQ(value, 2.5f);
  glGetUniformfv(program_of(plasma), alpha_at, &value);
  EXPECT_FLOAT_EQ(value, 0.5f * 0.8f);

  // The clock runs on between frames; a reset starts it from zero again.
  fake_now += 1250;
  tableau_dirty(root);
  tableau_render(root, loop);
  glGetUniformfv(program_of(plasma), time_at, &value);
  EXPECT_FLOAT_EQ(value, 3.75f);
  loop_ticks_reset(loop, 0);
  fake_now += 40;
  tableau_dirty(root);
  tableau_render(root, loop);
  glGetUniformfv(program_of(plasma), time_at, &value);
  EXPECT_FLOAT_EQ(value, 0.04f);

  loop_clock = real_clock;
}

TEST_F(nodes_test, plasma_paints_every_pixel_with_a_changing_pattern)
{
  loop_t *loop = gl_test_loop();
  uint32_t (*real_clock)(void) = loop_clock;
  loop_clock = fake_clock;
  fake_now = 5000;
  loop_ticks_reset(loop, 0);
  fake_now += 12345;

  const tableau_conf_t c = conf("plasma");
  plasma_node_new(&c);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, loop);
  gl_test_frame_t first = gl_test_read();
  if (const char *dir = getenv("ORB_SCREENSHOT_DIR"))
    gl_test_write_png(std::string(dir) + "/plasma.png", first.width, first.height,
                      first.rgba.data());

  // The colours vary over the window (not a flat fill) ...
  int lo = 255, hi = 0;
  for (int y = 0; y < first.height; y += 37)
    for (int x = 0; x < first.width; x += 41) {
      lo = std::min<int>(lo, first.at(x, y)[0]);
      hi = std::max<int>(hi, first.at(x, y)[0]);
    }
  EXPECT_GT(hi - lo, 64);

  // ... and move with time.
  fake_now += 500;
  tableau_dirty(root);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, loop);
  gl_test_frame_t later = gl_test_read();
  EXPECT_NE(first.rgba, later.rgba);
  loop_clock = real_clock;
}

} // namespace
