// The embedded image records as linked into the program, and their release after upload.
#include "images.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#define IMAGE(name, size) {image_##name, &image_##name##_size, IMAGE_##size##_WIDTH, IMAGE_##size##_HEIGHT}
#define DIGIT(d) IMAGE(digit_##d, DIGIT)
static const struct { const unsigned char *record; const uint64_t *size; uint32_t w, h; } IMAGES[] = {
    IMAGE(adult, ADULT), IMAGE(baby, BABY), IMAGE(tv, TV), IMAGE(virus, VIRUS), IMAGE(logo, LOGO), DIGIT(0), DIGIT(1), DIGIT(2),
    DIGIT(3), DIGIT(4), DIGIT(5), DIGIT(6), DIGIT(7), DIGIT(8), DIGIT(9)};

static bool resident(const void *p) {  // the page of p is mapped in
  uint64_t entry = 0, fd = uint64_t(open("/proc/self/pagemap", O_RDONLY));
  return pread(int(fd), &entry, 8, off_t(uintptr_t(p) / uintptr_t(getpagesize()) * 8)), close(int(fd)), entry >> 63; }

TEST(images_record, header_pixels_and_nul_match_the_drawing_sizes_and_release_gives_back_only_whole_pixel_pages) {
  for (int i = 0; i < 15; i++) {
    const auto &[record, size, w, h] = IMAGES[i];
    // The header (little-endian like the machine), the size, some pixel not 0, the NUL; a digit where its table says.
    EXPECT_TRUE(!memcmp(record, std::array{w, h, 4u}.data(), 12) && *size == 12 + w * h * 4 + 1 && uintptr_t(record) % 32 == 0 &&
                *std::max_element(record + 12, record + *size - 1) && !record[*size - 1] && (i < 5 || IMAGE_DIGITS[i - 5] == record)) << i;
    image_release(record, w, h);  // the header's page and the one shared with what follows stay
    EXPECT_EQ(std::tuple(resident(record), resident(record + 12 + w * h * 2), resident(record + 12 + w * h * 4)), std::tuple(true, false, true)) << i;
  }
}
