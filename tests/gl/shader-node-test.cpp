// The shader node, drawing the viewport-wide quad with its caller's program, and the plasma built on it.
#include "gl-test.hpp"

#include "plasma-node.hpp"
#include "shader-node.hpp"

static struct {
  int calls;
  void *arg, *cb_arg;
  unsigned n_uniforms;
  float alpha;
  GLint program;
} seen;
// Counts the calls that got their callback data; sets "level" to 1 and "alpha" to the node's opacity.
static void uniforms(void *cb_data, void *arg, unsigned n_uniforms, const GLint *at, void *cb_arg, float alpha)
{
  seen = {seen.calls + (cb_data == &seen), arg, cb_arg, n_uniforms, alpha, 0};
  glGetIntegerv(GL_CURRENT_PROGRAM, &seen.program), glUniform1f(at[0], 1), glUniform1f(at[1], alpha);
}

// The vertex source scales depth, as the quad lies at z = 0 and nothing may clip it.
TEST(gl_nodes, a_shader_node_covers_the_viewport_after_its_uniform_callback_and_the_plasma_sets_time_and_alpha)
{
  const char *vs = "#version 120\nattribute vec3 vertex;attribute vec2 texcoord;"
                   "void main(){gl_TexCoord[0].xy = texcoord;gl_Position = vec4(vertex.xy, vertex.z * 4., 1.f);}";
  // Red and green from the quad's coordinates (-1..1 to 0..1), blue from "level".
  const char *fs = "#version 120\nuniform float level;uniform float alpha;"
                   "void main(){gl_FragColor = vec4(gl_TexCoord[0].st * .5 + .5, level, alpha);}",
             *names[] = {"level", "alpha"};
  loop_t *loop = gl_loop();
  tableau_t *root = new_root();
  const tableau_conf_t c = conf(root, "shader", .5f);
  tableau_t *node = shader_node_new_src(&c, vs, fs, &root, uniforms, &seen, 2, names);
  const shader_node_t *object = static_cast<shader_node_t *>(tableau_get_object(node));
  tex_t *dot = tex_new(1, 1, IDENTITY);
  float m[16];
  place(m, 0, 0, 1, 1);
  const GLint program = GLint(object->shader->program), made = bound();
  clear(0, 0, 1), tex_render(dot, m, 1);  // the node draws in a run of textured quads, and sets its own state
  glDisable(GL_BLEND), glBlendFunc(GL_ONE, GL_ZERO);
  for (GLuint a = 0; a < 8; a++)
    glDisableVertexAttribArray(a);
  tableau_render(root, loop);
  EXPECT_EQ(std::tuple(seen.calls, seen.arg, seen.cb_arg, seen.n_uniforms, seen.alpha, seen.program, made + bound()),
            std::tuple(1, (void *)loop, (void *)&root, 2u, .5f, program, 0));  // nothing left bound by making or drawing
  const frame_t f;
  for (int y = H / 8; y < H; y += H / 4)
    for (int x = W / 8; x < W; x += W / 4)  // half the quad's colour over blue
      EXPECT_LE(dist(f.at(x, y), {int(127.5f * (x + .5f) / W), int(127.5f * (H - y - .5f) / H), 255}), 2) << x << "," << y;
  GLuint shaders[2] = {};
  glGetAttachedShaders(GLuint(program), 2, nullptr, shaders), tableau_free_children(root);
  EXPECT_FALSE(glIsProgram(GLuint(program)) || glIsShader(shaders[0]) || glIsShader(shaders[1]) || allocated().count(object));  // the only holder
  // The plasma's time: seconds since timer 0 was reset; its alpha: the opacity from the root down.
  loop_clock = fake_clock, now = 100000, loop_ticks_reset(loop, APP_TIMER_PLASMA), now += 2500;
  const shader_t *s = static_cast<shader_node_t *>(tableau_get_object(plasma_node_new(&c)))->shader;
  float time = 0, alpha = 0;
  tableau_dirty(root), tableau_render(root, loop), loop_clock = SDL_GetTicks;
  glGetUniformfv(s->program, glGetUniformLocation(s->program, "time"), &time), glGetUniformfv(s->program, s->uniforms[0], &alpha);
  EXPECT_EQ(std::tuple(s->n_uniforms, time, alpha, s->uniforms[0]), std::tuple(2u, 2.5f, .5f, glGetUniformLocation(s->program, "alpha")));
  tableau_free(root), tex_free(dot);
}
