// The embedded image records as linked into the program, and their release after upload.
#include "images.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

#define IMAGE(name, upper) {image_##name, &image_##name##_size, IMAGE_##upper##_WIDTH, IMAGE_##upper##_HEIGHT}
#define DIGIT(d) {image_digit_##d, &image_digit_##d##_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT}
const struct { const unsigned char *record; const uint64_t *size; uint32_t w, h; } IMAGES[] = {
    IMAGE(adult, ADULT), IMAGE(baby, BABY), IMAGE(tv, TV), IMAGE(virus, VIRUS), IMAGE(logo, LOGO), DIGIT(0), DIGIT(1),
    DIGIT(2), DIGIT(3), DIGIT(4), DIGIT(5), DIGIT(6), DIGIT(7), DIGIT(8), DIGIT(9)};

bool resident(const void *p)
{
  uint64_t entry = 0;
  const int fd = open("/proc/self/pagemap", O_RDONLY);
  EXPECT_EQ(pread(fd, &entry, 8, off_t(uintptr_t(p) / uintptr_t(getpagesize()) * 8)), 8);
  close(fd);
  return entry >> 63;
}

TEST(images_record, header_pixels_and_nul_match_the_drawing_sizes_and_release_keeps_every_byte)
{
  for (const auto &img : IMAGES) {
    SCOPED_TRACE(&img - IMAGES);
    const uint64_t pixels = uint64_t(img.w) * img.h * 4;
    const uint32_t header[3] = {img.w, img.h, 4};
    EXPECT_EQ(memcmp(img.record, header, 12), 0);  // little-endian like the machine
    ASSERT_EQ(*img.size, 12 + pixels + 1);
    EXPECT_EQ(uintptr_t(img.record) % 32, 0u);
    const std::vector<unsigned char> before(img.record, img.record + *img.size);
    image_release(img.record, img.w, img.h);
    // Whole pages inside the pixels go; the header's and the one shared with what follows stay.
    EXPECT_FALSE(resident(img.record + 12 + pixels / 2));
    EXPECT_TRUE(resident(img.record) && resident(img.record + 12 + pixels));
    EXPECT_TRUE(before == std::vector<unsigned char>(img.record, img.record + *img.size));
  }
  for (unsigned d = 0; d < 10; d++)
    EXPECT_EQ(IMAGE_DIGITS[d], IMAGES[5 + d].record) << d;
}

} // namespace
