// The embedded image records as linked into the program: their layout, and
// the properties of the pictures that the drawing code relies on (transparent
// surroundings, dark outlines, upright digits that can be told apart).

#include "images.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

struct image_case_t {
    const char *name;
    const unsigned char *record;
    const uint64_t *size;
    unsigned width;
    unsigned height;
    bool sprite; // drawn over the playfield: transparent corners, dark outline
};

const image_case_t IMAGES[] = {
    {"adult", image_adult, &image_adult_size, IMAGE_ADULT_WIDTH, IMAGE_ADULT_HEIGHT, true},
    {"baby", image_baby, &image_baby_size, IMAGE_BABY_WIDTH, IMAGE_BABY_HEIGHT, true},
    {"tv", image_tv, &image_tv_size, IMAGE_TV_WIDTH, IMAGE_TV_HEIGHT, true},
    {"virus", image_virus, &image_virus_size, IMAGE_VIRUS_WIDTH, IMAGE_VIRUS_HEIGHT, true},
    {"logo", image_logo, &image_logo_size, IMAGE_LOGO_WIDTH, IMAGE_LOGO_HEIGHT, false},
    {"digit_0", image_digit_0, &image_digit_0_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_1", image_digit_1, &image_digit_1_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_2", image_digit_2, &image_digit_2_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_3", image_digit_3, &image_digit_3_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_4", image_digit_4, &image_digit_4_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_5", image_digit_5, &image_digit_5_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_6", image_digit_6, &image_digit_6_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_7", image_digit_7, &image_digit_7_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_8", image_digit_8, &image_digit_8_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
    {"digit_9", image_digit_9, &image_digit_9_size, IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, true},
};

uint32_t u32_le(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const unsigned char *pixel(const image_case_t &img, unsigned x, unsigned y)
{
    return image_pixels(img.record) + (size_t(y) * img.width + x) * IMAGE_BPP;
}

unsigned alpha(const image_case_t &img, unsigned x, unsigned y) { return pixel(img, x, y)[3]; }

// Rec. 601 luma, good enough to tell an outline from a fill.
unsigned luma(const unsigned char *p)
{
    return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000;
}

constexpr unsigned OPAQUE = 128; // a pixel counts as drawn from here on

double opaque_share(const image_case_t &img, unsigned x0, unsigned y0, unsigned x1, unsigned y1)
{
    unsigned drawn = 0;
    for (unsigned y = y0; y < y1; y++)
        for (unsigned x = x0; x < x1; x++)
            drawn += alpha(img, x, y) >= OPAQUE;
    return double(drawn) / (double(x1 - x0) * (y1 - y0));
}

double opaque_share(const image_case_t &img) { return opaque_share(img, 0, 0, img.width, img.height); }

const image_case_t &digit(unsigned d) { return IMAGES[5 + d]; }

} // namespace

TEST(images_record, header_size_trailing_nul_and_alignment)
{
    for (const image_case_t &img : IMAGES) {
        SCOPED_TRACE(img.name);
        EXPECT_EQ(u32_le(img.record + 0), img.width);
        EXPECT_EQ(u32_le(img.record + 4), img.height);
        EXPECT_EQ(u32_le(img.record + 8), IMAGE_BPP);
        const uint64_t want = IMAGE_HEADER_SIZE + uint64_t(img.width) * img.height * IMAGE_BPP + 1;
        ASSERT_EQ(*img.size, want);
        EXPECT_EQ(img.record[want - 1], 0);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(img.record) % 32, 0u);
    }
    EXPECT_EQ(image_digit_0_size, 12u + 184u * 288u * 4u + 1u);
    EXPECT_EQ(image_pixels(image_tv), image_tv + 12);
    for (unsigned d = 0; d < 10; d++)
        EXPECT_EQ(IMAGE_DIGITS[d], digit(d).record) << d;
}

TEST(images_record, outermost_pixels_are_transparent)
{
    // Textures keep GL's default repeat wrap, so with bilinear filtering an
    // opaque pixel on one edge would bleed onto the opposite edge.
    for (const image_case_t &img : IMAGES) {
        SCOPED_TRACE(img.name);
        for (unsigned x = 0; x < img.width; x++) {
            ASSERT_EQ(alpha(img, x, 0), 0u) << x;
            ASSERT_EQ(alpha(img, x, img.height - 1), 0u) << x;
        }
        for (unsigned y = 0; y < img.height; y++) {
            ASSERT_EQ(alpha(img, 0, y), 0u) << y;
            ASSERT_EQ(alpha(img, img.width - 1, y), 0u) << y;
        }
    }
}

TEST(images_sprite, corners_clear_a_fair_fill_and_dark_outlines)
{
    for (const image_case_t &img : IMAGES) {
        if (!img.sprite)
            continue;
        SCOPED_TRACE(img.name);
        // Round shapes in square frames: a filled corner would show the
        // frame as a box over the plasma.
        const unsigned bx = img.width / 10, by = img.height / 10;
        EXPECT_EQ(opaque_share(img, 0, 0, bx, by), 0.0);
        EXPECT_EQ(opaque_share(img, img.width - bx, 0, img.width, by), 0.0);
        EXPECT_EQ(opaque_share(img, 0, img.height - by, bx, img.height), 0.0);
        EXPECT_EQ(opaque_share(img, img.width - bx, img.height - by, img.width, img.height), 0.0);
        // The collision boxes are the frames; a much smaller picture would
        // make hits look unfair.
        if (img.width != IMAGE_DIGIT_WIDTH) {
            EXPECT_GT(opaque_share(img), 0.25);
            EXPECT_LT(opaque_share(img), 0.95);
        }
        // Over the plasma only a dark rim keeps a sprite readable: opaque
        // pixels that touch transparency must be dark.
        unsigned rim = 0, dark = 0;
        for (unsigned y = 1; y + 1 < img.height; y++)
            for (unsigned x = 1; x + 1 < img.width; x++) {
                if (alpha(img, x, y) < 250)
                    continue;
                if (alpha(img, x - 1, y) >= OPAQUE && alpha(img, x + 1, y) >= OPAQUE &&
                    alpha(img, x, y - 1) >= OPAQUE && alpha(img, x, y + 1) >= OPAQUE)
                    continue;
                rim++;
                dark += luma(pixel(img, x, y)) < 64;
            }
        ASSERT_GT(rim, 100u);
        EXPECT_GT(double(dark) / rim, 0.95) << dark << " of " << rim;
    }
}

TEST(images_logo, shows_light_shapes_with_straight_alpha)
{
    const image_case_t &logo = IMAGES[4];
    unsigned bright = 0, straight = 0;
    for (unsigned y = 0; y < logo.height; y++)
        for (unsigned x = 0; x < logo.width; x++) {
            const unsigned char *p = pixel(logo, x, y);
            bright += p[3] > 200 && luma(p) > 120;
            // Premultiplied colour never exceeds its alpha; the soft glow
            // around the letters must keep its full colour.
            straight += p[3] > 0 && p[3] < 160 && (p[0] > p[3] || p[1] > p[3] || p[2] > p[3]);
        }
    EXPECT_GT(bright, logo.width * logo.height / 20);
    EXPECT_GT(straight, 100u);
}

TEST(images_digit, digits_are_light_distinct_upright_and_unmirrored)
{
    for (unsigned d = 0; d < 10; d++) {
        const image_case_t &img = digit(d);
        SCOPED_TRACE(img.name);
        const double share = opaque_share(img);
        EXPECT_GT(share, 0.12);
        EXPECT_LT(share, 0.70);
        unsigned light = 0, opaque = 0;
        for (unsigned y = 0; y < img.height; y++)
            for (unsigned x = 0; x < img.width; x++) {
                if (alpha(img, x, y) < 250)
                    continue;
                opaque++;
                light += luma(pixel(img, x, y)) > 200;
            }
        EXPECT_GT(double(light) / opaque, 0.25) << light << " of " << opaque;
        // Two digits' drawn masks must differ in a good part of their drawn
        // area, not only in a few pixels.
        for (unsigned b = d + 1; b < 10; b++) {
            const image_case_t &da = img, &db = digit(b);
            unsigned differ = 0, drawn = 0;
            for (unsigned y = 0; y < IMAGE_DIGIT_HEIGHT; y++)
                for (unsigned x = 0; x < IMAGE_DIGIT_WIDTH; x++) {
                    const bool in_a = alpha(da, x, y) >= OPAQUE, in_b = alpha(db, x, y) >= OPAQUE;
                    differ += in_a != in_b;
                    drawn += in_a || in_b;
                }
            EXPECT_GT(double(differ) / drawn, 0.15) << "vs " << b;
        }
    }
    constexpr unsigned W = IMAGE_DIGIT_WIDTH, H = IMAGE_DIGIT_HEIGHT;
    // 7: a bar across the top, the stroke ending left of centre at the bottom.
    const image_case_t &seven = digit(7);
    EXPECT_GT(opaque_share(seven, 0, 0, W, H / 5), 2 * opaque_share(seven, 0, H * 4 / 5, W, H));
    EXPECT_GT(opaque_share(seven, 0, H * 4 / 5, W / 2, H), 2 * opaque_share(seven, W / 2, H * 4 / 5, W, H));
    // 4: the stem is on the right.
    const image_case_t &four = digit(4);
    EXPECT_GT(opaque_share(four, W / 2, H * 2 / 3, W, H), 2 * opaque_share(four, 0, H * 2 / 3, W / 2, H));
    // 6 and 9: the closed bowl is at the bottom of the 6 and the top of the 9.
    EXPECT_GT(opaque_share(digit(6), 0, H / 2, W, H), opaque_share(digit(6), 0, 0, W, H / 2));
    EXPECT_GT(opaque_share(digit(9), 0, 0, W, H / 2), opaque_share(digit(9), 0, H / 2, W, H));
}

TEST(images_sprite, tv_and_adult_stand_upright)
{
    // The television's antennas are thin and its cabinet wide: the top
    // fifth holds far less than the middle. The adult's feet stand apart at
    // the bottom, the head is one round block at the top.
    const image_case_t &tv = IMAGES[2];
    EXPECT_LT(opaque_share(tv, 0, 0, tv.width, tv.height / 5) * 2,
              opaque_share(tv, 0, tv.height * 2 / 5, tv.width, tv.height * 3 / 5));
    const image_case_t &adult = IMAGES[0];
    const unsigned cx = adult.width / 2;
    EXPECT_GE(alpha(adult, cx, adult.height / 4), OPAQUE);      // the face
    EXPECT_EQ(alpha(adult, cx, adult.height - 20), 0u);         // between the feet
}

namespace {

// Whether the page holding p is mapped into this process (pagemap bit 63).
bool resident(const void *p)
{
    static const long page = sysconf(_SC_PAGESIZE);
    const int fd = open("/proc/self/pagemap", O_RDONLY);
    EXPECT_GE(fd, 0);
    uint64_t entry = 0;
    const off_t at = off_t(uintptr_t(p) / uintptr_t(page) * sizeof(entry));
    EXPECT_EQ(pread(fd, &entry, sizeof(entry), at), ssize_t(sizeof(entry)));
    close(fd);
    return entry >> 63;
}

uint64_t checksum(const unsigned char *p, uint64_t n)
{
    uint64_t sum = 1469598103934665603u; // FNV-1a
    for (uint64_t i = 0; i < n; i++)
        sum = (sum ^ p[i]) * 1099511628211u;
    return sum;
}

} // namespace

// Releasing a record after its upload must only drop pages: every byte of
// every record reads the same afterwards (a writable mapping would have come
// back as zeros), the pixels' inner pages are gone, and the bytes around the
// pixels that share a page with them (header, neighbours) are still mapped.
TEST(images_release, drops_pixel_pages_and_keeps_every_byte)
{
    const long page = sysconf(_SC_PAGESIZE);
    uint64_t before[std::size(IMAGES)];
    for (size_t i = 0; i < std::size(IMAGES); i++)
        before[i] = checksum(IMAGES[i].record, *IMAGES[i].size);

    for (const auto &img : IMAGES) {
        SCOPED_TRACE(img.name);
        const unsigned char *pixels = image_pixels(img.record);
        const uint64_t bytes = uint64_t(img.width) * img.height * IMAGE_BPP;
        image_release(img.record, img.width, img.height);
        // Some page of the pixels is whole, so one page in the middle went.
        EXPECT_FALSE(resident(pixels + bytes / 2));
        EXPECT_TRUE(resident(img.record)) << "header page";
        if (uintptr_t(pixels + bytes) % uintptr_t(page)) {
            EXPECT_TRUE(resident(pixels + bytes)) << "page shared with what follows";
        }
        EXPECT_EQ(img.record[IMAGE_HEADER_SIZE + bytes], 0) << "trailing NUL";
    }
    for (size_t i = 0; i < std::size(IMAGES); i++)
        EXPECT_EQ(checksum(IMAGES[i].record, *IMAGES[i].size), before[i]) << IMAGES[i].name;
}
