#include "shader-node.hpp"

#include "loop/fatal.hpp"
#include "slot.hpp"
#include "tex.hpp"

#include <cassert>
#include <cstdlib>

namespace {

constexpr tableau_ops_t SHADER_NODE_OPS = {
    .prepare = nullptr,
    .render = slot<shader_node_render>::call,
    .free = slot<shader_node_free>::call,
};

const char *SHADER_NODE_ATTRIBUTES[] = {"vertex", "texcoord"};
enum {
  SHADER_NODE_A_VERTEX,
  SHADER_NODE_A_TEXCOORD
};

// The quad's positions are meant for clip space as they stand; its texture
// coordinates repeat their x and y so that fragment sources work in -1..1.
const GLfloat SHADER_NODE_VERTICES[6][3] = {
    {1, 1, 0}, {1, -1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0}, {-1, 1, 0},
};
const GLfloat SHADER_NODE_TEXCOORDS[6][2] = {
    {1, 1}, {1, -1}, {-1, 1}, {1, -1}, {-1, -1}, {-1, 1},
};
static_assert(sizeof(SHADER_NODE_VERTICES) == 72);
static_assert(sizeof(SHADER_NODE_TEXCOORDS) == 48);

// Made by the first shader node (vertex buffer still 0) and never released.
GLuint shader_node_vertex_buffer;
GLuint shader_node_texcoord_buffer;

}  // namespace

tableau_t *shader_node_new_shader(const tableau_conf_t *conf, shader_t *shader, void *cb_arg,
                                  shader_node_uniform_cb_t uniform_cb, void *cb_data)
{
  assert(conf);
  assert(shader);

  if (!shader_node_vertex_buffer) {
    glGenBuffers(1, &shader_node_vertex_buffer);
    glBindBuffer(GL_ARRAY_BUFFER, shader_node_vertex_buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(SHADER_NODE_VERTICES), SHADER_NODE_VERTICES,
                 GL_STATIC_DRAW);
    glGenBuffers(1, &shader_node_texcoord_buffer);
    glBindBuffer(GL_ARRAY_BUFFER, shader_node_texcoord_buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(SHADER_NODE_TEXCOORDS), SHADER_NODE_TEXCOORDS,
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
  }

  shader_node_t *shader_node = static_cast<shader_node_t *>(calloc(1, sizeof(shader_node_t)));
  if (!shader_node)
    loop_fatal("Fatal error: Unable to allocate shader_node\n");
  shader_ref(shader);
  shader_node->shader = shader;
  shader_node->uniform_cb = uniform_cb;
  shader_node->cb_data = cb_data;
  shader_node->cb_arg = cb_arg;

  tableau_t *tableau = tableau_new(conf, &SHADER_NODE_OPS, shader_node);
  if (!tableau)
    loop_fatal("Fatal error: Unable to create tableau \"%s\"\n", conf->name);
  return tableau;
}

tableau_t *shader_node_new_src(const tableau_conf_t *conf, const char *vs_src, const char *fs_src,
                               void *cb_arg, shader_node_uniform_cb_t uniform_cb, void *cb_data,
                               unsigned n_uniforms, const char **uniforms)
{
  assert(vs_src);
  assert(fs_src);
  shader_t *shader =
      shader_pair_new(vs_src, fs_src, n_uniforms, uniforms, 2, SHADER_NODE_ATTRIBUTES);
  tableau_t *tableau = shader_node_new_shader(conf, shader, cb_arg, uniform_cb, cb_data);
  // The node is now the program's only holder: freeing it deletes the program.
  shader_free(shader);
  return tableau;
}

void shader_node_render(tableau_t *tableau, shader_node_t *shader_node, void *arg, float alpha)
{
  assert(tableau);
  assert(shader_node);
  tex_render_end();  // a run of textured quads leaves its program current

  unsigned n_uniforms;
  GLint *uniforms;
  GLint *attributes;
  shader_use(shader_node->shader, &n_uniforms, &uniforms, nullptr, &attributes);
  if (shader_node->uniform_cb)
    shader_node->uniform_cb(shader_node->cb_data, arg, n_uniforms, uniforms, shader_node->cb_arg,
                            alpha);

  glBindBuffer(GL_ARRAY_BUFFER, shader_node_vertex_buffer);
  glVertexAttribPointer(GLuint(attributes[SHADER_NODE_A_VERTEX]), 3, GL_FLOAT, GL_FALSE, 12,
                        nullptr);
  glEnableVertexAttribArray(GLuint(attributes[SHADER_NODE_A_VERTEX]));

  glBindBuffer(GL_ARRAY_BUFFER, shader_node_texcoord_buffer);
  glVertexAttribPointer(GLuint(attributes[SHADER_NODE_A_TEXCOORD]), 2, GL_FLOAT, GL_FALSE, 8,
                        nullptr);
  glEnableVertexAttribArray(GLuint(attributes[SHADER_NODE_A_TEXCOORD]));

  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDrawArrays(GL_TRIANGLES, 0, 6);

  glUseProgram(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void shader_node_free(tableau_t *tableau, shader_node_t *shader_node)
{
  assert(tableau);
  assert(shader_node);
  shader_free(shader_node->shader);
  free(shader_node);
}
