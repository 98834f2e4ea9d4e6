// Textures and the node kinds that draw, checked on the pixels GL produces.
#include "clear-node.hpp"
#include "gl-fixture.hpp"
#include "shader-node.hpp"
#include "tex-node.hpp"
#include "tex.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

const float IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Names GL has handed out so far are small integers; count the live ones.
int count_names(GLboolean (*is)(GLuint))
{
  int n = 0;
  for (GLuint name = 1; name < 256; name++)
    n += is(name) ? 1 : 0;
  return n;
}
GLboolean is_buffer(GLuint name) { return glIsBuffer(name); }
GLboolean is_program(GLuint name) { return glIsProgram(name); }

class tex_test : public ::testing::Test {
protected:
  void SetUp() override { gl_test_loop(); }
};

void expect_rgba(const uint8_t *p, int r, int g, int b, int a, int tolerance = 1)
{
  EXPECT_NEAR(p[0], r, tolerance);
  EXPECT_NEAR(p[1], g, tolerance);
  EXPECT_NEAR(p[2], b, tolerance);
  if (a >= 0) {
    EXPECT_NEAR(p[3], a, tolerance);
  }
}

TEST_F(tex_test, the_first_texture_makes_the_shared_program_and_buffers_once)
{
  // ctest runs each test in a process of its own, where this is the first
  // texture; run by hand after other tests, the shared state may exist already.
  int buffers = count_names(is_buffer);
  int programs = count_names(is_program);
  bool fresh = buffers == 0 && programs == 0;
  const uint8_t px[4] = {255, 255, 255, 255};
  tex_t *a = tex_new(1, 1, px);
  int made_buffers = count_names(is_buffer) - buffers;
  int made_programs = count_names(is_program) - programs;
  if (fresh) {
    EXPECT_EQ(made_buffers, 2);
    EXPECT_EQ(made_programs, 1);
  }
  tex_t *b = tex_new(1, 1, px);
  EXPECT_EQ(count_names(is_buffer) - buffers, made_buffers);
  EXPECT_EQ(count_names(is_program) - programs, made_programs);
  EXPECT_NE(a->id, b->id);
  tex_free(a);
  tex_free(b);
}

TEST_F(tex_test, identity_matrix_fills_the_viewport_upright_and_unmirrored)
{
  // 4 x 2 texels, each a colour of its own; each must land at the centre of
  // its eighth of the viewport, first row at the top, first pixel at the left.
  const uint8_t px[2][4][4] = {
      {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255}},
      {{0, 255, 255, 255}, {255, 0, 255, 255}, {255, 255, 255, 255}, {128, 64, 32, 255}},
  };
  tex_t *tex = tex_new(4, 2, px);
  gl_test_clear(0, 0, 0, 1);
  tex_render(tex, IDENTITY, 1.f);
  gl_test_frame_t f = gl_test_read();
  for (int row = 0; row < 2; row++)
    for (int col = 0; col < 4; col++) {
      SCOPED_TRACE(testing::Message() << "texel " << col << "," << row);
      const uint8_t *p = f.at(f.width * (2 * col + 1) / 8, f.height * (2 * row + 1) / 4);
      expect_rgba(p, px[row][col][0], px[row][col][1], px[row][col][2], -1);
    }
  // Bilinear filtering blends neighbours between texel centres, never beyond the quad.
  const uint8_t *mid = f.at(f.width / 4, f.height / 4);
  EXPECT_GT(int(mid[0]), 0);
  EXPECT_GT(int(mid[1]), 0);
  tex_free(tex);
}

TEST_F(tex_test, alpha_multiplies_texel_alpha_and_transparent_texels_stay_invisible)
{
  // Left texel white and half transparent, right texel red and fully transparent.
  const uint8_t px[1][2][4] = {{{255, 255, 255, 128}, {255, 0, 0, 0}}};
  tex_t *tex = tex_new(2, 1, px);
  for (float alpha : {1.f, 0.5f, 8.f}) {
    SCOPED_TRACE(alpha);
    gl_test_clear(0, 0, 0, 1);
    tex_render(tex, IDENTITY, alpha);
    gl_test_frame_t f = gl_test_read();
    // Blended over black: the colour is 255 x (texel alpha x alpha).
    int expect = int(std::lround(255 * std::min(1.f, 128.f / 255.f * alpha)));
    expect_rgba(f.at(f.width / 4, f.height / 2), expect, expect, expect, -1, 2);
    expect_rgba(f.at(f.width * 3 / 4, f.height / 2), 0, 0, 0, -1, 0);
  }
  tex_free(tex);
}

TEST_F(tex_test, a_texture_lives_until_the_last_holder_lets_go)
{
  const uint8_t px[4] = {1, 2, 3, 4};
  tex_t *tex = tex_new(1, 1, px);
  GLuint id = tex->id;
  EXPECT_EQ(tex->refcnt, 1u);
  EXPECT_TRUE(glIsTexture(id));
  EXPECT_EQ(tex_ref(tex), tex);
  EXPECT_EQ(tex->refcnt, 2u);
  EXPECT_EQ(tex_free(tex), nullptr);
  EXPECT_EQ(tex->refcnt, 1u);
  EXPECT_TRUE(glIsTexture(id));
  EXPECT_EQ(tex_free(tex), nullptr);
  EXPECT_FALSE(glIsTexture(id));
  EXPECT_EQ(tex_free(NULL), nullptr);
}

TEST_F(tex_test, drawing_leaves_program_texture_and_buffer_unbound)
{
  const uint8_t px[4] = {1, 2, 3, 4};
  tex_t *tex = tex_new(1, 1, px);
  tex_render(tex, IDENTITY, 1.f);
  GLint program = -1, texture = -1, buffer = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
  EXPECT_EQ(program, 0);
  EXPECT_EQ(texture, 0);
  EXPECT_EQ(buffer, 0);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  tex_free(tex);
}

using tex_death_test = tex_test;

TEST_F(tex_death_test, missing_arguments_are_programming_errors)
{
  const uint8_t px[4] = {};
  EXPECT_DEATH(tex_new(1, 1, NULL), "buf");
  EXPECT_DEATH(tex_render(NULL, IDENTITY, 1.f), "tex");
  tex_t *tex = tex_new(1, 1, px);
  EXPECT_DEATH(tex_render(tex, NULL, 1.f), "model_x");
  EXPECT_DEATH(tex_ref(NULL), "tex");
  tex->refcnt = 0;
  EXPECT_DEATH(tex_free(tex), "tex->refcnt > 0");
}

// ---------------------------------------------------------------- tex-node

tableau_conf_t conf_under(tableau_t *parent, const char *name, float alpha)
{
  return tableau_conf_t{.parent = parent, .layer = 0, .name = name, .alpha = alpha, .active = 1,
                        .locked = 0, .dirty = 0};
}

TEST_F(tex_test, nodes_share_a_texture_by_reference)
{
  const uint8_t px[4] = {9, 9, 9, 255};
  tableau_t *root = gl_test_root(1.f);
  tex_t *tex = tex_new(1, 1, px);
  const tableau_conf_t c = conf_under(root, "a", 1.f);
  tableau_t *a = tex_node_new_tex(&c, tex, IDENTITY);
  tableau_t *b = tex_node_new_tex(&c, tex, IDENTITY);
  EXPECT_EQ(tex->refcnt, 3u);
  auto *obj = static_cast<tex_node_t *>(tableau_get_object(a));
  EXPECT_EQ(obj->tex, tex);
  EXPECT_EQ(obj->model_x, IDENTITY);
  tableau_free(a);
  tableau_free(b);
  EXPECT_EQ(tex->refcnt, 1u);
  EXPECT_TRUE(glIsTexture(tex->id));
  tex_free(tex);
  tableau_free(root);
}

TEST_F(tex_test, a_node_made_from_pixels_is_the_only_holder_of_its_texture)
{
  const uint8_t px[4] = {9, 9, 9, 255};
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = conf_under(root, "logo", 1.f);
  tableau_t *node = tex_node_new_buf(&c, 1, 1, px, IDENTITY);
  tex_t *tex = static_cast<tex_node_t *>(tableau_get_object(node))->tex;
  GLuint id = tex->id;
  EXPECT_EQ(tex->refcnt, 1u);
  EXPECT_TRUE(glIsTexture(id));
  tableau_free(node);
  EXPECT_FALSE(glIsTexture(id));
  tableau_free(root);
}

TEST_F(tex_test, rewriting_the_matrix_in_place_moves_the_picture)
{
  const uint8_t px[4] = {255, 255, 255, 255};
  tableau_t *root = gl_test_root(1.f);
  float m[16];
  gl_test_place(m, 0, 0, 64, 64);
  const tableau_conf_t c = conf_under(root, "sprite", 1.f);
  tex_node_new_buf(&c, 1, 1, px, m);

  gl_test_clear(0, 0, 0, 1);
  ASSERT_TRUE(tableau_render(root, NULL));
  gl_test_frame_t f = gl_test_read();
  expect_rgba(f.at(32, 32), 255, 255, 255, -1);
  expect_rgba(f.at(200 + 32, 100 + 32), 0, 0, 0, -1);

  gl_test_place(m, 200, 100, 64, 64);
  tableau_dirty(root);
  gl_test_clear(0, 0, 0, 1);
  ASSERT_TRUE(tableau_render(root, NULL));
  f = gl_test_read();
  expect_rgba(f.at(32, 32), 0, 0, 0, -1);
  expect_rgba(f.at(200 + 32, 100 + 32), 255, 255, 255, -1);
  tableau_free(root);
}

TEST_F(tex_test, a_node_draws_with_its_effective_opacity)
{
  const uint8_t px[4] = {255, 255, 255, 255};
  tableau_t *root = gl_test_root(0.5f);
  const tableau_conf_t c = conf_under(root, "half", 0.5f);
  tex_node_new_buf(&c, 1, 1, px, IDENTITY);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, NULL);
  gl_test_frame_t f = gl_test_read();
  expect_rgba(f.at(10, 10), 64, 64, 64, -1);
  tableau_free(root);
}

TEST_F(tex_death_test, a_node_without_matrix_fails_on_its_first_draw)
{
  const uint8_t px[4] = {};
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = conf_under(root, "no-matrix", 1.f);
  tex_node_new_buf(&c, 1, 1, px, NULL);  // accepted at creation
  EXPECT_DEATH(tableau_render(root, NULL), "model_x");
  EXPECT_DEATH(tex_node_new_tex(NULL, NULL, IDENTITY), "conf");
  EXPECT_DEATH(tex_node_new_tex(&c, NULL, IDENTITY), "tex");
  tableau_free(root);
}

// ---------------------------------------------------------------- shader-node

const char *const FLAT_VS =
    "#version 120\nattribute vec3 vertex;attribute vec2 texcoord;"
    "void main(){gl_TexCoord[0].xy = texcoord;gl_Position = vec4(vertex, 1.f);}";
// Red from the x coordinate, green from y (both -1..1 mapped to 0..1), blue from "level".
const char *const FLAT_FS =
    "#version 120\nuniform float level;uniform float alpha;"
    "void main(){gl_FragColor = vec4(gl_TexCoord[0].st * .5 + .5, level, alpha);}";

struct uniform_log_t {
  int calls;
  void *data;
  void *arg;
  void *cb_arg;
  unsigned n_uniforms;
  float alpha;
  GLint program;  // current while the callback ran
};

void log_uniforms(void *cb_data, void *arg, unsigned n_uniforms, const GLint *uniforms,
                  void *cb_arg, float alpha)
{
  auto *log = static_cast<uniform_log_t *>(cb_data);
  log->calls++;
  log->data = cb_data;
  log->arg = arg;
  log->cb_arg = cb_arg;
  log->n_uniforms = n_uniforms;
  log->alpha = alpha;
  glGetIntegerv(GL_CURRENT_PROGRAM, &log->program);
  glUniform1f(uniforms[0], 1.f);
  glUniform1f(uniforms[1], alpha);
}

TEST_F(tex_test, a_shader_node_covers_the_viewport_and_sets_uniforms_through_its_callback)
{
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = conf_under(root, "plasma", 1.f);
  const char *names[] = {"level", "alpha"};
  uniform_log_t log = {};
  int cb_arg = 0, render_arg = 0;
  tableau_t *node =
      shader_node_new_src(&c, FLAT_VS, FLAT_FS, &cb_arg, log_uniforms, &log, 2, names);
  shader_t *shader = static_cast<shader_node_t *>(tableau_get_object(node))->shader;
  EXPECT_EQ(shader->refcnt, 1u);

  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, &render_arg);
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.data, &log);
  EXPECT_EQ(log.arg, &render_arg);
  EXPECT_EQ(log.cb_arg, &cb_arg);
  EXPECT_EQ(log.n_uniforms, 2u);
  EXPECT_FLOAT_EQ(log.alpha, 1.f);
  EXPECT_EQ(GLuint(log.program), shader->program);

  // (1, 1) of the quad's coordinates at the top right, (-1, -1) at the bottom left.
  gl_test_frame_t f = gl_test_read();
  expect_rgba(f.at(0, f.height - 1), 0, 0, 255, 255, 2);
  expect_rgba(f.at(f.width - 1, 0), 255, 255, 255, -1, 2);
  expect_rgba(f.at(f.width / 2, f.height / 2), 128, 128, 255, -1, 2);

  GLuint program = shader->program;
  tableau_free(root);
  EXPECT_FALSE(glIsProgram(program));
}

TEST_F(tex_test, a_shader_node_hands_its_callback_the_effective_opacity)
{
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = conf_under(root, "half", 0.5f);
  const char *names[] = {"level", "alpha"};
  uniform_log_t log = {};
  shader_node_new_src(&c, FLAT_VS, FLAT_FS, NULL, log_uniforms, &log, 2, names);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, NULL);
  EXPECT_FLOAT_EQ(log.alpha, 0.5f);
  tableau_free(root);
}

TEST_F(tex_test, a_shader_node_without_callback_still_draws)
{
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = conf_under(root, "plain", 1.f);
  const char *names[] = {"level", "alpha"};
  shader_node_new_src(&c, FLAT_VS, FLAT_FS, NULL, NULL, NULL, 2, names);
  gl_test_clear(0, 0, 0, 1);
  tableau_render(root, NULL);
  gl_test_frame_t f = gl_test_read();
  // Uniforms at their defaults (0): alpha 0 blends nothing over black.
  expect_rgba(f.at(f.width - 1, 0), 0, 0, 0, -1, 0);
  glDisable(GL_BLEND);
  gl_test_clear(0, 0, 0, 1);
  tableau_dirty(root);
  tableau_render(root, NULL);  // enables blending again
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  tableau_free(root);
}

TEST_F(tex_test, shader_nodes_share_one_quad_and_programs_by_reference)
{
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = conf_under(root, "shared", 1.f);
  const char *names[] = {"level", "alpha"};
  const char *attributes[] = {"vertex", "texcoord"};
  shader_t *shader = shader_pair_new(FLAT_VS, FLAT_FS, 2, names, 2, attributes);
  int buffers = count_names(is_buffer);
  tableau_t *a = shader_node_new_shader(&c, shader, NULL, NULL, NULL);
  int made = count_names(is_buffer) - buffers;
  if (buffers == 0) {  // a process of its own: this is the first shader node
    EXPECT_EQ(made, 2);
  }
  tableau_t *b = shader_node_new_shader(&c, shader, NULL, NULL, NULL);
  EXPECT_EQ(count_names(is_buffer) - buffers, made);
  EXPECT_EQ(shader->refcnt, 3u);
  tableau_free(a);
  tableau_free(b);
  EXPECT_EQ(shader->refcnt, 1u);
  EXPECT_TRUE(glIsProgram(shader->program));
  shader_free(shader);
  tableau_free(root);
}

TEST_F(tex_death_test, shader_node_programming_errors)
{
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = conf_under(root, "x", 1.f);
  EXPECT_DEATH(shader_node_new_shader(&c, NULL, NULL, NULL, NULL), "shader");
  EXPECT_DEATH(shader_node_new_src(&c, NULL, FLAT_FS, NULL, NULL, NULL, 0, NULL), "vs_src");
  EXPECT_DEATH(shader_node_new_src(&c, FLAT_VS, NULL, NULL, NULL, NULL, 0, NULL), "fs_src");
  EXPECT_DEATH(shader_node_render(NULL, NULL, NULL, 1.f), "tableau");
  EXPECT_DEATH(shader_node_render(root, NULL, NULL, 1.f), "shader_node");
  tableau_free(root);
}

// ---------------------------------------------------------------- clear-node

TEST_F(tex_test, a_clear_node_clears_to_black_whatever_its_alpha)
{
  for (float alpha : {1.f, 0.f}) {
    SCOPED_TRACE(alpha);
    tableau_t *root = gl_test_root(1.f);
    const tableau_conf_t c = conf_under(root, "clear", alpha);
    clear_node_new(&c);
    gl_test_clear(1, 0.5f, 0.25f, 1);
    ASSERT_TRUE(tableau_render(root, NULL));
    gl_test_frame_t f = gl_test_read();
    for (int y : {0, f.height / 2, f.height - 1})
      for (int x : {0, f.width / 2, f.width - 1})
        expect_rgba(f.at(x, y), 0, 0, 0, 0, 0);
    tableau_free(root);
  }
}

TEST_F(tex_death_test, a_clear_node_needs_its_record)
{
  EXPECT_DEATH(clear_node_new(NULL), "conf");
}

} // namespace
