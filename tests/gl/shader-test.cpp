// Shader programs against Mesa's real GLSL compiler and linker.
#include "gl-test.hpp"

#include "shader.hpp"

#include <malloc.h>

static const char *const VS = "#version 120\nuniform mat4 model_x;attribute vec3 vertex;attribute vec2 texcoord;"
                              "void main(){gl_TexCoord[0].xy = texcoord;gl_Position = model_x * vec4(vertex, 1.f);}";
static const char *const FS = "#version 120\nuniform float alpha;uniform vec4 tint;"
                              "void main(){gl_FragColor = tint * gl_TexCoord[0].x;gl_FragColor.a *= alpha;}";

TEST(gl_shader, locations_follow_the_names_in_one_allocation_and_the_program_lives_until_the_last_free) {
  const char *names[] = {"unused", "tint", "alpha", "model_x", "none", "texcoord", "vertex"};
  shader_t *s = (gl_loop(), shader_pair_new(VS, FS, 4, names, 3, names + 4));
  // The uniforms, then right after them the attributes, behind the record; a name the program does not use is -1.
  for (int i = 0; i < 7; i++)
    EXPECT_EQ(s->uniforms[i], i % 4 == 0 ? -1 : i < 4 ? glGetUniformLocation(s->program, names[i]) : glGetAttribLocation(s->program, names[i])) << i;
  EXPECT_TRUE((void *)s->uniforms == s + 1 && s->attributes == s->uniforms + 4 && malloc_usable_size(s) >= sizeof(shader_t) + 7 * 4);
  // With a second holder the first free leaves the program.
  EXPECT_TRUE((shader_ref(s), shader_free(s) == s) && glIsProgram(s->program) && !shader_free(s) && !allocated().count(s));
  expect_assertions({{[] { shader_pair_new(VS, FS, 2, nullptr, 0, nullptr); }, "uniforms \\|\\| !n_uniforms"}});
}

TEST(gl_shader, a_build_error_ends_the_process_with_one_message_quoting_the_log) {
  const std::tuple<const char *, const char *, const char *> rows[] = {
      // The fragment source is broken too, but is not compiled after the vertex source failed.
      {"#version 120\nvoid main(){ gl_Position = nonsense; }", "#version 120\nbroken", "compiling vertex shader: \"[^\"]*nonsense"},
      {"#version 120\nvoid helper(){}", FS, "linking shader program: \"[^\"]*main"}};  // only the linker misses main()
  for (gl_loop(); auto [vs, fs, out] : rows)
    EXPECT_EXIT(shader_pair_new(vs, fs, 0, nullptr, 0, nullptr), testing::ExitedWithCode(1), std::string("^Fatal error: Error ") + out + "[^\"]*\"\n$");
}
