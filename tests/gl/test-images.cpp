// Every embedded image through the real pipeline (tex_new + tex_render):
// pixel for pixel at its own size, and as a contact sheet for the eye.
#include "gl-fixture.hpp"
#include "images.hpp"
#include "tex.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <vector>

namespace {

struct image_t {
  const char *name;
  const unsigned char *record;
  unsigned width, height;
};

const image_t IMAGES[] = {
    {"adult", image_adult, IMAGE_ADULT_WIDTH, IMAGE_ADULT_HEIGHT},
    {"baby", image_baby, IMAGE_BABY_WIDTH, IMAGE_BABY_HEIGHT},
    {"tv", image_tv, IMAGE_TV_WIDTH, IMAGE_TV_HEIGHT},
    {"virus", image_virus, IMAGE_VIRUS_WIDTH, IMAGE_VIRUS_HEIGHT},
    {"logo", image_logo, IMAGE_LOGO_WIDTH, IMAGE_LOGO_HEIGHT},
    {"digit-0", image_digit_0, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-1", image_digit_1, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-2", image_digit_2, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-3", image_digit_3, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-4", image_digit_4, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-5", image_digit_5, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-6", image_digit_6, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-7", image_digit_7, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-8", image_digit_8, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
    {"digit-9", image_digit_9, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT},
};

struct images_test : ::testing::Test {
  void SetUp() override { gl_test_loop(); }
};

TEST_F(images_test, every_image_renders_upright_and_unmirrored_pixel_for_pixel)
{
  // Drawn at its own size at the top left of the frame over a grey
  // background, each screen pixel must be its texel blended over the grey.
  constexpr int BG = 96;
  for (const image_t &img : IMAGES) {
    SCOPED_TRACE(img.name);
    const unsigned char *px = image_pixels(img.record);
    tex_t *tex = tex_new(img.width, img.height, px);
    float m[16];
    gl_test_place(m, 0, 0, int(img.width), int(img.height));
    gl_test_clear(BG / 255.f, BG / 255.f, BG / 255.f, 1);
    tex_render(tex, m, 1.f);
    gl_test_frame_t f = gl_test_read();
    int bad = 0, visible = 0;
    for (unsigned y = 0; y < img.height; y++)
      for (unsigned x = 0; x < img.width; x++) {
        const unsigned char *t = px + (size_t(y) * img.width + x) * 4;
        const uint8_t *s = f.at(int(x), int(y));
        visible += t[3] > 128;
        for (int ch = 0; ch < 3; ch++) {
          int expect = (t[ch] * t[3] + BG * (255 - t[3]) + 127) / 255;
          if (std::abs(int(s[ch]) - expect) > 2 && bad++ < 5)
            ADD_FAILURE() << "pixel " << x << "," << y << " channel " << ch << ": " << int(s[ch])
                          << " instead of " << expect;
        }
      }
    EXPECT_EQ(bad, 0);
    // A blank picture would pass the comparison too.
    EXPECT_GT(visible, int(img.width * img.height / 50));
    tex_free(tex);
  }
}

TEST_F(images_test, contact_sheet_shows_all_fifteen_in_a_five_by_three_grid)
{
  constexpr int CELL = 256, PAD = 8, COLS = 5, ROWS = 3;
  constexpr int W = CELL * COLS, H = CELL * ROWS;
  glViewport(0, 0, W, H);

  // A checkered background shows transparency; it goes through tex_new too.
  std::vector<uint8_t> checks(size_t(W) * H * 4);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      uint8_t v = ((x / 16 + y / 16) & 1) ? 112 : 144;
      uint8_t *p = &checks[(size_t(y) * W + x) * 4];
      p[0] = p[1] = p[2] = v;
      p[3] = 255;
    }
  tex_t *bg = tex_new(W, H, checks.data());
  gl_test_clear(0, 0, 0, 1);
  tex_render(bg, GL_TEST_IDENTITY, 1.f);
  tex_free(bg);

  for (int i = 0; i < COLS * ROWS; i++) {
    const image_t &img = IMAGES[i];
    // Fit into the cell, keeping the aspect ratio, centred.
    float scale = std::min(float(CELL - 2 * PAD) / float(img.width),
                           float(CELL - 2 * PAD) / float(img.height));
    int w = int(float(img.width) * scale), h = int(float(img.height) * scale);
    int x = (i % COLS) * CELL + (CELL - w) / 2, y = (i / COLS) * CELL + (CELL - h) / 2;
    tex_t *tex = tex_new(img.width, img.height, image_pixels(img.record));
    float m[16];
    gl_test_place(m, x, y, w, h);
    tex_render(tex, m, 1.f);
    tex_free(tex);
  }
  gl_test_frame_t f = gl_test_read();
  glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
  ASSERT_EQ(f.width, W);
  ASSERT_EQ(f.height, H);

  // Every cell shows something besides the checks.
  for (int i = 0; i < COLS * ROWS; i++) {
    int drawn = 0;
    for (int y = 0; y < CELL; y += 2)
      for (int x = 0; x < CELL; x += 2) {
        const uint8_t *p = f.at((i % COLS) * CELL + x, (i / COLS) * CELL + y);
        drawn += !(p[0] == p[1] && p[1] == p[2] && (p[0] == 112 || p[0] == 144));
      }
    EXPECT_GT(drawn, 100) << IMAGES[i].name;
  }

  const char *dir = getenv("ORB_SCREENSHOT_DIR");
  std::string path = std::string(dir ? dir : ORB_TEST_OUTPUT_DIR) + "/contact-sheet.png";
  ASSERT_TRUE(gl_test_write_png(path, f.width, f.height, f.rgba.data())) << path;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_GT(st.st_size, W * H * 4);  // stored, not compressed
}

} // namespace
