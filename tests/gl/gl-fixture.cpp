#include "gl-fixture.hpp"

#include <glad/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

gl_test_probe_t gl_test_probe;

namespace {

void probe_enter(loop_t *, void *)
{
  gl_test_probe.entered++;
}

void probe_update(loop_t *, void *)
{
  gl_test_probe.updates++;
  if (gl_test_probe.quit_after && gl_test_probe.updates == gl_test_probe.quit_after)
    loop_quit();
  tableau_dirty(gl_test_fever()->root);
}

const loop_ops_t probe_ops = {
    .init = NULL,
    .reserved = NULL,
    .enter = probe_enter,
    .leave = NULL,
    .update = probe_update,
    .render = fever_render,
    .dispatch = fever_dispatch,
};

const loop_ops_t *const test_contexts[] = {&fever_ops, &probe_ops, NULL};

loop_t *test_loop;

uint32_t crc32_of(const uint8_t *p, size_t n, uint32_t crc = 0)
{
  crc = ~crc;
  for (size_t i = 0; i < n; i++) {
    crc ^= p[i];
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void put_be32(std::vector<uint8_t> &out, uint32_t v)
{
  for (int s = 24; s >= 0; s -= 8)
    out.push_back(uint8_t(v >> s));
}

void put_chunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data)
{
  put_be32(out, uint32_t(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put_be32(out, crc32_of(&out[start], out.size() - start));
}

} // namespace

loop_t *gl_test_loop(void)
{
  if (!test_loop) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    static char arg0[] = "test-gl", arg1[] = "--window", arg2[] = "1280x768";
    static char *argv[] = {arg0, arg1, arg2, NULL};
    test_loop = loop_startup(3, argv, test_contexts);
  }
  fever_t *fever = static_cast<fever_t *>(loop_context(test_loop, 0));
  SDL_GL_MakeCurrent(fever->window, fever->gl_context);
  return test_loop;
}

fever_t *gl_test_fever(void)
{
  return static_cast<fever_t *>(loop_context(gl_test_loop(), 0));
}

tableau_t *gl_test_root(float alpha)
{
  const tableau_conf_t conf = {.parent = NULL, .layer = 0, .name = "test-root", .alpha = alpha,
                               .active = 1, .locked = 0, .dirty = 1};
  return tableau_new(&conf, NULL, NULL);
}

tableau_conf_t gl_test_conf(tableau_t *parent, const char *name, float alpha)
{
  return tableau_conf_t{.parent = parent, .layer = 0, .name = name, .alpha = alpha, .active = 1,
                        .locked = 0, .dirty = 0};
}

void gl_test_expect_rgba(const uint8_t *p, int r, int g, int b, int a, int tolerance)
{
  EXPECT_NEAR(p[0], r, tolerance);
  EXPECT_NEAR(p[1], g, tolerance);
  EXPECT_NEAR(p[2], b, tolerance);
  if (a >= 0) {
    EXPECT_NEAR(p[3], a, tolerance);
  }
}

gl_test_frame_t gl_test_read(void)
{
  gl_test_frame_t frame;
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  frame.width = vp[2];
  frame.height = vp[3];
  std::vector<uint8_t> bottom_up(size_t(frame.width) * frame.height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(vp[0], vp[1], frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE,
               bottom_up.data());
  frame.rgba.resize(bottom_up.size());
  size_t row = size_t(frame.width) * 4;
  for (int y = 0; y < frame.height; y++)
    memcpy(&frame.rgba[y * row], &bottom_up[(frame.height - 1 - y) * row], row);
  return frame;
}

void gl_test_clear(float r, float g, float b, float a)
{
  glClearColor(r, g, b, a);
  glClear(GL_COLOR_BUFFER_BIT);
  // The program never sets the clear colour; leave GL's default behind.
  glClearColor(0, 0, 0, 0);
}

void gl_test_place(float m[16], int x, int y, int w, int h)
{
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  const float W = float(vp[2]);
  const float H = float(vp[3]);
  memset(m, 0, 16 * sizeof(float));
  m[0] = float(w) / W;
  m[5] = float(h) / H;
  m[10] = 1;
  m[12] = (2.f * float(x) + float(w)) / W - 1.f;
  m[13] = 1.f - (2.f * float(y) + float(h)) / H;
  m[15] = 1;
}

bool gl_test_write_png(const std::string &path, int width, int height, const uint8_t *rgba)
{
  // Filter byte 0 before each row, then the rows in stored (uncompressed)
  // deflate blocks of at most 65535 bytes inside a zlib stream.
  std::vector<uint8_t> raw;
  size_t row = size_t(width) * 4;
  for (int y = 0; y < height; y++) {
    raw.push_back(0);
    raw.insert(raw.end(), rgba + y * row, rgba + (y + 1) * row);
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  for (size_t off = 0; off < raw.size() || off == 0; off += 65535) {
    size_t n = std::min<size_t>(65535, raw.size() - off);
    z.push_back(off + n == raw.size() ? 1 : 0);
    z.push_back(uint8_t(n));
    z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n));
    z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
    if (off + n == raw.size())
      break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put_be32(z, (b << 16) | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> ihdr;
  put_be32(ihdr, uint32_t(width));
  put_be32(ihdr, uint32_t(height));
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, no interlace
  put_chunk(png, "IHDR", ihdr);
  put_chunk(png, "IDAT", z);
  put_chunk(png, "IEND", {});

  FILE *f = fopen(path.c_str(), "wb");
  if (!f)
    return false;
  bool ok = fwrite(png.data(), 1, png.size(), f) == png.size();
  return fclose(f) == 0 && ok;
}
