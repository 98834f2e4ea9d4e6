#include "digit-node.hpp"

#include "images.hpp"
#include "tex-node.hpp"

#include <cassert>

namespace {

// Filled on demand, never released: each entry keeps its creator's reference.
tex_t *digit_texs[10];

}  // namespace

tableau_t *digit_node_new(const tableau_conf_t *conf, unsigned digit, const float *model_x)
{
  assert(digit < 10);
  if (!digit_texs[digit]) {
    digit_texs[digit] =
        tex_new(IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT, image_pixels(IMAGE_DIGITS[digit]));
    image_release(IMAGE_DIGITS[digit], IMAGE_DIGIT_WIDTH, IMAGE_DIGIT_HEIGHT);
  }
  return tex_node_new_tex(conf, digit_texs[digit], model_x);
}
