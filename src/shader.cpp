#include "shader.hpp"

#include "loop/fatal.hpp"

#include <cassert>
#include <cstdlib>

namespace {

// Info logs longer than this are cut; the start of a log names the first error.
constexpr GLsizei SHADER_LOG_SIZE = 4096;

GLuint shader_compile(GLenum type, const char *src, const char *fmt)
{
  GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &src, nullptr);
  glCompileShader(shader);
  GLint status = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
  if (!status) {
    char log[SHADER_LOG_SIZE] = {};
    glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
    loop_fatal(fmt, log);
  }
  return shader;
}

GLuint shader_program_build(const char *vs_src, const char *fs_src)
{
  GLuint vs = shader_compile(GL_VERTEX_SHADER, vs_src,
                             "Fatal error: Error compiling vertex shader: \"%s\"\n");
  GLuint fs = shader_compile(GL_FRAGMENT_SHADER, fs_src,
                             "Fatal error: Error compiling fragment shader: \"%s\"\n");
  GLuint program = glCreateProgram();
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glLinkProgram(program);
  GLint status = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &status);
  if (!status) {
    char log[SHADER_LOG_SIZE] = {};
    glGetProgramInfoLog(program, sizeof(log), nullptr, log);
    loop_fatal("Fatal error: Error linking shader program: \"%s\"\n", log);
  }
  // Attached shaders live on inside the program; deleting them now lets GL
  // release them together with it.
  glDeleteShader(vs);
  glDeleteShader(fs);
  return program;
}

}  // namespace

shader_t *shader_pair_new(const char *vs_src, const char *fs_src, unsigned n_uniforms,
                          const char **uniforms, unsigned n_attributes, const char **attributes)
{
  assert(vs_src);
  assert(fs_src);
  assert(uniforms || !n_uniforms);
  assert(attributes || !n_attributes);

  // One allocation: the record, then the uniform locations, then the
  // attribute locations.
  shader_t *shader = static_cast<shader_t *>(
      calloc(1, sizeof(shader_t) + sizeof(GLint) * (size_t(n_uniforms) + n_attributes)));
  if (!shader)
    loop_fatal("Fatal error: Unable to allocate shader\n");

  shader->program = shader_program_build(vs_src, fs_src);
  shader->refcnt = 1;
  shader->n_uniforms = n_uniforms;
  shader->n_attributes = n_attributes;
  shader->uniforms = reinterpret_cast<GLint *>(shader + 1);
  shader->attributes = shader->uniforms + n_uniforms;

  for (unsigned i = 0; i < n_uniforms; i++)
    shader->uniforms[i] = glGetUniformLocation(shader->program, uniforms[i]);
  for (unsigned i = 0; i < n_attributes; i++)
    shader->attributes[i] = glGetAttribLocation(shader->program, attributes[i]);
  return shader;
}

void shader_ref(shader_t *shader)
{
  assert(shader);
  shader->refcnt++;
}

shader_t *shader_free(shader_t *shader)
{
  assert(shader);
  if (--shader->refcnt)
    return shader;
  glDeleteProgram(shader->program);
  free(shader);
  return nullptr;
}

void shader_use(shader_t *shader, unsigned *n_uniforms, GLint **uniforms, unsigned *n_attributes,
                GLint **attributes)
{
  assert(shader);
  if (n_uniforms)
    *n_uniforms = shader->n_uniforms;
  if (uniforms)
    *uniforms = shader->uniforms;
  if (n_attributes)
    *n_attributes = shader->n_attributes;
  if (attributes)
    *attributes = shader->attributes;
  glUseProgram(shader->program);
}
