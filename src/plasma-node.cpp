#include "plasma-node.hpp"

#include "app.hpp"
#include "shader-node.hpp"

#include "loop/loop.hpp"

namespace {

const char *const PLASMA_VS_SRC = "#version 120\n"
                                  "attribute vec3 vertex;"
                                  "attribute vec2 texcoord;"
                                  "void main(){"
                                  "\tgl_TexCoord[0].xy = texcoord;"
                                  "\tgl_Position = vec4(vertex, 1.f);"
                                  "}";

const char *const PLASMA_FS_SRC =
    "#version 120\n"
    "#define PI 3.1415926535897932384626433832795\n"
    "uniform float alpha;"
    "uniform float time;"
    "void main() {"
    "\tfloat v;"
    "\tfloat stime = sin(time * .01f) * 100.f;"
    "\tvec2 c = gl_TexCoord[0].st;"
    "\tc *= (sin(stime * .01f) *.5f + .5f) * 3.f + 1.f;"
    "\tv = sin((c.x + stime));"
    "\tv += sin((c.y + stime) * .5f);"
    "\tv += sin((c.x + c.y +stime) * .5f);"
    "\tc += vec2(sin(stime * .33f), cos(stime * .5f)) * 3.f;"
    "\tv += sin(sqrt(c.x * c.x + c.y * c.y + 1.f) + stime);"
    "\tvec3 col = vec3(cos(PI * v + sin(time)), sin(PI * v + cos(time * .33f)), cos(PI * v + "
    "sin(time * .66f)));"
    "\tgl_FragColor = vec4(col * .5f + .5f, alpha);"
    "}";

const char *PLASMA_UNIFORMS[] = {"alpha", "time"};
enum {
  PLASMA_U_ALPHA,
  PLASMA_U_TIME
};

}  // namespace

tableau_t *plasma_node_new(const tableau_conf_t *conf)
{
  return shader_node_new_src(conf, PLASMA_VS_SRC, PLASMA_FS_SRC, nullptr, plasma_uniforms, nullptr,
                             2, PLASMA_UNIFORMS);
}

void plasma_uniforms(void *, void *arg, unsigned, const GLint *uniforms, void *, float alpha)
{
  loop_t *loop = static_cast<loop_t *>(arg);
  glUniform1f(uniforms[PLASMA_U_ALPHA], alpha);
  glUniform1f(uniforms[PLASMA_U_TIME], float(loop_ticks(loop, APP_TIMER_PLASMA)) * 0.001f);
}
