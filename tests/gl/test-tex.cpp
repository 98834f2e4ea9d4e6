// Textures and the node kinds that draw, checked on the pixels GL produces.
#include "clear-node.hpp"
#include "gl-fixture.hpp"
#include "shader-node.hpp"
#include "tex-node.hpp"
#include "tex.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const float *const IDENTITY = GL_TEST_IDENTITY;

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
using tex_death_test = tex_test;

TEST_F(tex_test, shared_program_and_buffers_are_made_once_and_textures_are_counted)
{
  // Under ctest this is the first texture of its process; run by hand after
  // other tests, the shared state may exist already.
  int buffers = count_names(is_buffer), programs = count_names(is_program);
  const uint8_t px[4] = {255, 255, 255, 255};
  tex_t *a = tex_new(1, 1, px);
  int made_buffers = count_names(is_buffer) - buffers;
  int made_programs = count_names(is_program) - programs;
  if (buffers == 0 && programs == 0) {
    EXPECT_EQ(made_buffers, 2);
    EXPECT_EQ(made_programs, 1);
  }
  tex_t *b = tex_new(1, 1, px);
  EXPECT_EQ(count_names(is_buffer) - buffers, made_buffers);
  EXPECT_EQ(count_names(is_program) - programs, made_programs);
  EXPECT_NE(a->id, b->id);
  tex_free(b);

  // Drawing leaves nothing bound behind it.
  tex_render(a, IDENTITY, 1.f);
  GLint program = -1, texture = -1, buffer = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
  EXPECT_EQ(program, 0);
  EXPECT_EQ(texture, 0);
  EXPECT_EQ(buffer, 0);

  // Two nodes holding it, then the node made from pixels as sole holder.
  GLuint id = a->id;
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = gl_test_conf(root, "a");
  tableau_t *na = tex_node_new_tex(&c, a, IDENTITY);
  tableau_t *nb = tex_node_new_tex(&c, a, IDENTITY);
  EXPECT_EQ(a->refcnt, 3u);
  EXPECT_EQ(static_cast<tex_node_t *>(tableau_get_object(na))->tex, a);
  tableau_free(na);
  tableau_free(nb);
  EXPECT_EQ(a->refcnt, 1u);
  EXPECT_EQ(tex_ref(a), a);
  EXPECT_EQ(tex_free(a), nullptr);
  EXPECT_TRUE(glIsTexture(id));
  EXPECT_EQ(tex_free(a), nullptr);
  EXPECT_FALSE(glIsTexture(id));

  tableau_t *own = tex_node_new_buf(&c, 1, 1, px, IDENTITY);
  id = static_cast<tex_node_t *>(tableau_get_object(own))->tex->id;
  EXPECT_TRUE(glIsTexture(id));
  tableau_free(own);
  EXPECT_FALSE(glIsTexture(id));
  tableau_free(root);
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
      gl_test_expect_rgba(p, px[row][col][0], px[row][col][1], px[row][col][2], -1);
    }
  tex_free(tex);
}

TEST_F(tex_test, alpha_multiplies_texel_alpha_and_nodes_draw_with_their_effective_opacity)
{
  // Left texel white and half transparent, right texel red and fully transparent.
  const uint8_t px[1][2][4] = {{{255, 255, 255, 128}, {255, 0, 0, 0}}};
  tex_t *tex = tex_new(2, 1, px);
  for (float alpha : {1.f, 0.5f, 8.f}) {
    SCOPED_TRACE(alpha);
    gl_test_clear(0, 0, 0, 1);
    tex_render(tex, IDENTITY, alpha);
    gl_test_frame_t f = gl_test_read();
    int expect = int(std::lround(255 * std::min(1.f, 128.f / 255.f * alpha)));
    gl_test_expect_rgba(f.at(f.width / 4, f.height / 2), expect, expect, expect, -1, 2);
    gl_test_expect_rgba(f.at(f.width * 3 / 4, f.height / 2), 0, 0, 0, -1, 0);
  }
  tex_free(tex);

  // A half-opaque node under a half-opaque root, placed by a matrix that is
  // rewritten in place to move it.
  const uint8_t white[4] = {255, 255, 255, 255};
  tableau_t *root = gl_test_root(0.5f);
  float m[16];
  gl_test_place(m, 0, 0, 64, 64);
  const tableau_conf_t c = gl_test_conf(root, "half", 0.5f);
  tex_node_new_buf(&c, 1, 1, white, m);
  for (int x : {0, 200}) {
    gl_test_place(m, x, 100, 64, 64);
    tableau_dirty(root);
    gl_test_clear(0, 0, 0, 1);
    ASSERT_TRUE(tableau_render(root, NULL));
    gl_test_frame_t f = gl_test_read();
    gl_test_expect_rgba(f.at(x + 32, 132), 64, 64, 64, -1);
    gl_test_expect_rgba(f.at(232 - x, 132), 0, 0, 0, -1, 0);
  }
  tableau_free(root);
}

// Red from the x coordinate, green from y (both -1..1 mapped to 0..1), blue from "level".
const char *const FLAT_VS =
    "#version 120\nattribute vec3 vertex;attribute vec2 texcoord;"
    "void main(){gl_TexCoord[0].xy = texcoord;gl_Position = vec4(vertex, 1.f);}";
const char *const FLAT_FS =
    "#version 120\nuniform float level;uniform float alpha;"
    "void main(){gl_FragColor = vec4(gl_TexCoord[0].st * .5 + .5, level, alpha);}";

struct uniform_log_t {
  int calls;
  void *arg, *cb_arg;
  unsigned n_uniforms;
  float alpha;
  GLint program;  // current while the callback ran
};

void log_uniforms(void *cb_data, void *arg, unsigned n_uniforms, const GLint *uniforms,
                  void *cb_arg, float alpha)
{
  auto *log = static_cast<uniform_log_t *>(cb_data);
  *log = {log->calls + 1, arg, cb_arg, n_uniforms, alpha, 0};
  glGetIntegerv(GL_CURRENT_PROGRAM, &log->program);
  glUniform1f(uniforms[0], 1.f);
  glUniform1f(uniforms[1], alpha);
}

TEST_F(tex_test, a_shader_node_covers_the_viewport_and_sets_uniforms_through_its_callback)
{
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = gl_test_conf(root, "plasma", 0.5f);
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
  EXPECT_EQ(log.arg, &render_arg);
  EXPECT_EQ(log.cb_arg, &cb_arg);
  EXPECT_EQ(log.n_uniforms, 2u);
  EXPECT_FLOAT_EQ(log.alpha, 0.5f);
  EXPECT_EQ(GLuint(log.program), shader->program);
  // (1, 1) of the quad's coordinates at the top right, (-1, -1) at the bottom left.
  gl_test_frame_t f = gl_test_read();
  gl_test_expect_rgba(f.at(0, f.height - 1), 0, 0, 128, -1, 2);
  gl_test_expect_rgba(f.at(f.width - 1, 0), 128, 128, 128, -1, 2);
  GLuint program = shader->program;
  tableau_free(node);
  EXPECT_FALSE(glIsProgram(program));

  // Without a callback the uniforms stay 0: alpha 0 blends nothing over black,
  // and blending is switched on again by the draw.
  shader_node_new_src(&c, FLAT_VS, FLAT_FS, NULL, NULL, NULL, 2, names);
  glDisable(GL_BLEND);
  gl_test_clear(0, 0, 0, 1);
  tableau_dirty(root);
  tableau_render(root, NULL);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  gl_test_expect_rgba(gl_test_read().at(f.width - 1, 0), 0, 0, 0, -1, 0);
  tableau_free(root);
}

TEST_F(tex_test, shader_nodes_share_one_quad_and_programs_by_reference)
{
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = gl_test_conf(root, "shared");
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

TEST_F(tex_test, a_clear_node_clears_to_black_whatever_its_alpha)
{
  for (float alpha : {1.f, 0.f}) {
    SCOPED_TRACE(alpha);
    tableau_t *root = gl_test_root(1.f);
    const tableau_conf_t c = gl_test_conf(root, "clear", alpha);
    clear_node_new(&c);
    gl_test_clear(1, 0.5f, 0.25f, 1);
    ASSERT_TRUE(tableau_render(root, NULL));
    gl_test_frame_t f = gl_test_read();
    for (int y : {0, f.height / 2, f.height - 1})
      for (int x : {0, f.width / 2, f.width - 1})
        gl_test_expect_rgba(f.at(x, y), 0, 0, 0, 0, 0);
    tableau_free(root);
  }
}

TEST_F(tex_death_test, programming_errors_assert)
{
  const uint8_t px[4] = {};
  tableau_t *root = gl_test_root(1.f);
  const tableau_conf_t c = gl_test_conf(root, "x");
  EXPECT_DEATH(tex_new(1, 1, NULL), "buf");
  EXPECT_DEATH(tex_render(NULL, IDENTITY, 1.f), "tex");
  EXPECT_DEATH(tex_ref(NULL), "tex");
  EXPECT_DEATH(tex_node_new_tex(NULL, NULL, IDENTITY), "conf");
  EXPECT_DEATH(tex_node_new_tex(&c, NULL, IDENTITY), "tex");
  EXPECT_DEATH(shader_node_new_shader(&c, NULL, NULL, NULL, NULL), "shader");
  EXPECT_DEATH(shader_node_new_src(&c, NULL, FLAT_FS, NULL, NULL, NULL, 0, NULL), "vs_src");
  EXPECT_DEATH(shader_node_new_src(&c, FLAT_VS, NULL, NULL, NULL, NULL, 0, NULL), "fs_src");
  EXPECT_DEATH(shader_node_render(NULL, NULL, NULL, 1.f), "tableau");
  EXPECT_DEATH(shader_node_render(root, NULL, NULL, 1.f), "shader_node");
  EXPECT_DEATH(clear_node_new(NULL), "conf");
  tex_t *tex = tex_new(1, 1, px);
  EXPECT_DEATH(tex_render(tex, NULL, 1.f), "model_x");
  tex->refcnt = 0;
  EXPECT_DEATH(tex_free(tex), "tex->refcnt > 0");
  tex->refcnt = 1;
  tex_free(tex);
  tex_node_new_buf(&c, 1, 1, px, NULL);  // accepted at creation, refused at the first draw
  EXPECT_DEATH(tableau_render(root, NULL), "model_x");
  tableau_free(root);
}

} // namespace
