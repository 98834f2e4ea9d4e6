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

const float *const IDENTITY = GL_TEST_IDENTITY;

class nodes_test : public ::testing::Test {
protected:
  void SetUp() override
  {
    loop = gl_test_loop();
    root = gl_test_root(1.f);
  }
  void TearDown() override
  {
    tableau_free(root);
    loop_clock = real_clock;
  }
  loop_t *loop;
  tableau_t *root;
  uint32_t (*real_clock)(void) = loop_clock;
};
using nodes_death_test = nodes_test;

tex_t *tex_of(tableau_t *node)
{
  return static_cast<tex_node_t *>(tableau_get_object(node))->tex;
}

uint32_t fake_now;
uint32_t fake_clock(void)
{
  return fake_now;
}

TEST_F(nodes_test, a_hundred_nodes_of_one_digit_upload_one_texture_and_each_digit_has_its_own)
{
  const tableau_conf_t c = gl_test_conf(root, "digit");
  std::vector<tableau_t *> nodes;
  for (int i = 0; i < 100; i++)
    nodes.push_back(digit_node_new(&c, 7, IDENTITY));
  tex_t *tex = tex_of(nodes[0]);
  for (tableau_t *node : nodes)
    EXPECT_EQ(tex_of(node), tex);
  EXPECT_EQ(tex->refcnt, 101u);  // the cache's reference and one per node
  for (tableau_t *node : nodes)
    tableau_free(node);
  EXPECT_EQ(tex->refcnt, 1u);
  EXPECT_TRUE(glIsTexture(tex->id));
  EXPECT_EQ(tex_of(digit_node_new(&c, 7, IDENTITY)), tex);

  std::vector<tex_t *> texs;
  for (unsigned d = 0; d < 10; d++) {
    texs.push_back(tex_of(digit_node_new(&c, d, IDENTITY)));
    for (unsigned e = 0; e < d; e++)
      EXPECT_NE(texs[e], texs[d]) << e << " and " << d;
  }
}

TEST_F(nodes_death_test, there_is_no_digit_ten)
{
  const tableau_conf_t c = gl_test_conf(root, "digit");
  EXPECT_DEATH(digit_node_new(&c, 10, IDENTITY), "digit < 10");
}

TEST_F(nodes_test, sprite_textures_are_uploaded_once_and_outlive_their_nodes)
{
  const tableau_conf_t c = gl_test_conf(root, "sprite");
  tableau_t *(*const make[])(const tableau_conf_t *, const float *) = {
      baby_node_new, adult_node_new, tv_node_new, virus_node_new};
  tex_t *first[4];
  for (int k = 0; k < 4; k++) {
    first[k] = tex_of(make[k](&c, IDENTITY));
    EXPECT_EQ(tex_of(make[k](&c, IDENTITY)), first[k]) << k;
    EXPECT_EQ(first[k]->refcnt, 3u) << k;
    for (int j = 0; j < k; j++)
      EXPECT_NE(first[j], first[k]) << j << " and " << k;
  }
  // A new playfield: free everything and rebuild; no texture is made anew.
  tableau_free_children(root);
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(first[k]->refcnt, 1u) << k;
    EXPECT_TRUE(glIsTexture(first[k]->id)) << k;
    EXPECT_EQ(tex_of(make[k](&c, IDENTITY)), first[k]) << k;
  }

  // The virus drawn at its own size: its centre texel blended over black.
  tableau_free_children(root);
  float m[16];
  gl_test_place(m, 0, 0, 362, 363);
  virus_node_new(&c, m);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, NULL);
  const unsigned char *px = image_pixels(image_virus) + (181 * 362 + 181) * 4;
  gl_test_frame_t f = gl_test_read();
  for (int ch = 0; ch < 3; ch++)
    EXPECT_NEAR(f.at(181, 181)[ch], px[ch] * px[3] / 255, 2) << ch;
}

TEST_F(nodes_test, plasma_time_is_seconds_of_timer_zero_and_alpha_the_effective_opacity)
{
  loop_clock = fake_clock;
  fake_now = 100000;
  loop_ticks_reset(loop, 0);
  fake_now += 2500;

  const tableau_conf_t group_conf = gl_test_conf(root, "group", 0.5f);
  const tableau_conf_t c = gl_test_conf(tableau_new(&group_conf, NULL, NULL), "plasma", 0.8f);
  tableau_t *plasma = plasma_node_new(&c);
  shader_t *shader = static_cast<shader_node_t *>(tableau_get_object(plasma))->shader;
  GLint alpha_at = glGetUniformLocation(shader->program, "alpha");
  GLint time_at = glGetUniformLocation(shader->program, "time");
  auto uniform = [&](GLint at) {
    float value = -1;
    glGetUniformfv(shader->program, at, &value);
    return value;
  };

  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, loop);
  EXPECT_FLOAT_EQ(uniform(time_at), 2.5f);
  EXPECT_FLOAT_EQ(uniform(alpha_at), 0.5f * 0.8f);
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
  EXPECT_GT(hi - lo, 32);

  // ... and move with the clock, which runs on between frames until a reset.
  fake_now += 1250;
  tableau_dirty(root);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, loop);
  EXPECT_FLOAT_EQ(uniform(time_at), 3.75f);
  EXPECT_NE(first.rgba, gl_test_read().rgba);
  loop_ticks_reset(loop, 0);
  fake_now += 40;
  tableau_dirty(root);
  tableau_render(root, loop);
  EXPECT_FLOAT_EQ(uniform(time_at), 0.04f);
}

} // namespace
