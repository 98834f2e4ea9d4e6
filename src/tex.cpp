#include "tex.hpp"

#include "shader.hpp"

#include "loop/fatal.hpp"

#include <cassert>
#include <cstdlib>

namespace {

const char *const TEX_VS_SRC = "#version 120\n"
                               "uniform mat4\tmodel_x;"
                               "attribute vec3\tvertex;"
                               "attribute vec2\ttexcoord;"
                               "void main(){"
                               "\tgl_TexCoord[0].xy = texcoord;"
                               "\tgl_Position = model_x * vec4(vertex, 1.f);"
                               "}";

const char *const TEX_FS_SRC = "#version 120\n"
                               "uniform sampler2D\ttex0;"
                               "uniform float\t\talpha;"
                               "void main(){"
                               "\tgl_FragColor = texture2D(tex0, gl_TexCoord[0].st);"
                               "\tgl_FragColor.a *= alpha;"
                               "}";

// Indices into the program's location arrays, in the order of the names.
const char *TEX_UNIFORMS[] = {"alpha", "model_x"};
const char *TEX_ATTRIBUTES[] = {"vertex", "texcoord"};
enum {
  TEX_U_ALPHA,
  TEX_U_MODEL_X
};
enum {
  TEX_A_VERTEX,
  TEX_A_TEXCOORD
};

// Two triangles over -1..1. Texture row t = 0 (the first row of the pixel
// buffer) sits on the top edge and column s = 0 on the left edge, so a buffer
// stored top row first is shown upright and unmirrored.
const GLfloat TEX_VERTICES[6][3] = {
    {1, 1, 0}, {1, -1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0}, {-1, 1, 0},
};
const GLfloat TEX_TEXCOORDS[6][2] = {
    {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}, {0, 0},
};
static_assert(sizeof(TEX_VERTICES) == 72);
static_assert(sizeof(TEX_TEXCOORDS) == 48);

// Shared by every texture; made by the first tex_new (vertex_buffer still 0
// means "not yet") and never released.
shader_t *tex_shader;
GLuint tex_vertex_buffer;
GLuint tex_texcoord_buffer;

// A run of tex_render calls is open from its first quad to tex_render_end:
// the program is current and the quad's attributes point at the buffers.
bool tex_run_open;
GLint *tex_uniforms;  // the program's uniform locations, taken when a run opens

void tex_shared_init(void)
{
  tex_shader = shader_pair_new(TEX_VS_SRC, TEX_FS_SRC, 2, TEX_UNIFORMS, 2, TEX_ATTRIBUTES);

  glGenBuffers(1, &tex_vertex_buffer);
  glBindBuffer(GL_ARRAY_BUFFER, tex_vertex_buffer);
  glBufferData(GL_ARRAY_BUFFER, sizeof(TEX_VERTICES), TEX_VERTICES, GL_STATIC_DRAW);

  glGenBuffers(1, &tex_texcoord_buffer);
  glBindBuffer(GL_ARRAY_BUFFER, tex_texcoord_buffer);
  glBufferData(GL_ARRAY_BUFFER, sizeof(TEX_TEXCOORDS), TEX_TEXCOORDS, GL_STATIC_DRAW);

  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

}  // namespace

tex_t *tex_new(unsigned width, unsigned height, const void *buf)
{
  assert(buf);
  if (!tex_vertex_buffer)
    tex_shared_init();

  tex_t *tex = static_cast<tex_t *>(calloc(1, sizeof(tex_t)));
  if (!tex)
    loop_fatal("Fatal error: Unable to allocate tex_t\n");

  glGenTextures(1, &tex->id);
  glBindTexture(GL_TEXTURE_2D, tex->id);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width), GLsizei(height), 0, GL_RGBA,
               GL_UNSIGNED_BYTE, buf);
  glBindTexture(GL_TEXTURE_2D, 0);
  tex->refcnt = 1;
  return tex;
}

tex_t *tex_ref(tex_t *tex)
{
  assert(tex);
  tex->refcnt++;
  return tex;
}

tex_t *tex_free(tex_t *tex)
{
  if (!tex)
    return nullptr;
  assert(tex->refcnt > 0);
  if (--tex->refcnt == 0) {
    glDeleteTextures(1, &tex->id);
    free(tex);
  }
  return nullptr;
}

void tex_render(const tex_t *tex, const float *model_x, float alpha)
{
  assert(tex);
  assert(model_x);

  if (!tex_run_open) {
    // The first quad of a run: the program, the quad's two buffers and
    // blending are the same for every texture, so they are set once.
    GLint *attributes;
    shader_use(tex_shader, nullptr, &tex_uniforms, nullptr, &attributes);

    glBindBuffer(GL_ARRAY_BUFFER, tex_vertex_buffer);
    glVertexAttribPointer(GLuint(attributes[TEX_A_VERTEX]), 3, GL_FLOAT, GL_FALSE, 12, nullptr);
    glEnableVertexAttribArray(GLuint(attributes[TEX_A_VERTEX]));

    glBindBuffer(GL_ARRAY_BUFFER, tex_texcoord_buffer);
    glVertexAttribPointer(GLuint(attributes[TEX_A_TEXCOORD]), 2, GL_FLOAT, GL_FALSE, 8, nullptr);
    glEnableVertexAttribArray(GLuint(attributes[TEX_A_TEXCOORD]));
    // The attribute arrays keep the buffers they were pointed at.
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    tex_run_open = true;
  }

  glBindTexture(GL_TEXTURE_2D, tex->id);
  glUniform1f(tex_uniforms[TEX_U_ALPHA], alpha);
  glUniformMatrix4fv(tex_uniforms[TEX_U_MODEL_X], 1, GL_FALSE, model_x);
  glDrawArrays(GL_TRIANGLES, 0, 6);
}

void tex_render_end(void)
{
  if (!tex_run_open)
    return;
  tex_run_open = false;
  glBindTexture(GL_TEXTURE_2D, 0);
  glUseProgram(0);
}
