// The cached sprite and digit nodes.
#include "gl-test.hpp"

#include "clear-node.hpp"
#include "digit-node.hpp"
#include "images.hpp"
#include "sprite-node.hpp"
#include "tex-node.hpp"

#include <cstring>

TEST(gl_sprites, each_node_shows_its_picture_upright_pixel_for_pixel_from_one_cached_texture) {
  tableau_t *root = (gl_loop(), new_root());
  const tableau_conf_t c = conf(root, "sprite");
  EXPECT_EQ(clear_node_new(&c)->parent, root);  // the background, cleared to black
  tableau_t *(*const sprites[])(const tableau_conf_t *, const float *) = {adult_node_new, baby_node_new, tv_node_new, virus_node_new};
  const unsigned char *const images[] = {image_adult, image_baby, image_tv, image_virus};
  for (int i = 0; i < 14; i++) {  // the sprites, then the digits
    auto make = [&](const float *m) { return i < 4 ? sprites[i](&c, m) : digit_node_new(&c, unsigned(i - 4), m); };
    const unsigned char *image = i < 4 ? images[i] : IMAGE_DIGITS[i - 4];
    uint32_t w, h, bad = 0;  float m[16];
    memcpy(&w, image, 4), memcpy(&h, image + 4, 4), place(m, 0, 0, int(w), int(h));
    tableau_t *node = make(m);  tex_t *tex = static_cast<tex_node_t *>(tableau_get_object(node))->tex;
    tableau_free(make(m));
    EXPECT_EQ(tex->refcnt, 2u) << i;  // the cache's and the node's
    // Once uploaded, the pixels' own pages are given back; the header's stays.
    EXPECT_EQ(std::pair(resident(image), resident(image + 12 + w * h * 2)), std::pair(true, false)) << i;
    tableau_dirty(root), tableau_render(root, nullptr);
    const frame_t f;
    for (uint32_t k = 0; k < w * h * 3; k++)  // each channel of each pixel: the texel over black
      bad += abs(f.at(int(k / 3 % w), int(k / 3 / w))[k % 3] - image[12 + k / 3 * 4 + k % 3] * image[15 + k / 3 * 4] / 255) > 2;
    EXPECT_EQ(bad, 0u) << i;
    tableau_free(node);
  }
  tableau_free(root);
  expect_assertions({{[] { digit_node_new(nullptr, 10, IDENTITY); }, "digit < 10"}});
}
