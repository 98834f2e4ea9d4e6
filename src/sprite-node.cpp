#include "sprite-node.hpp"

#include "images.hpp"
#include "tex-node.hpp"

namespace {

// Each cache entry is filled by its constructor's first call and keeps that
// reference for the life of the process.
tex_t *adult_tex;
tex_t *baby_tex;
tex_t *tv_tex;
tex_t *virus_tex;

// The sizes are the call sites' constants; the records' headers are not read.
static_assert(IMAGE_ADULT_WIDTH == 640 && IMAGE_ADULT_HEIGHT == 608);
static_assert(IMAGE_BABY_WIDTH == 640 && IMAGE_BABY_HEIGHT == 528);
static_assert(IMAGE_TV_WIDTH == 320 && IMAGE_TV_HEIGHT == 384);
static_assert(IMAGE_VIRUS_WIDTH == 362 && IMAGE_VIRUS_HEIGHT == 363);

tableau_t *sprite_node_new(tex_t **cache, unsigned width, unsigned height,
                           const unsigned char *image, const tableau_conf_t *conf,
                           const float *model_x)
{
  if (!*cache) {
    *cache = tex_new(width, height, image_pixels(image));
    image_release(image, width, height);
  }
  return tex_node_new_tex(conf, *cache, model_x);
}

} // namespace

tableau_t *adult_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&adult_tex, 640, 608, image_adult, conf, model_x);
}

tableau_t *baby_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&baby_tex, 640, 528, image_baby, conf, model_x);
}

tableau_t *tv_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&tv_tex, 320, 384, image_tv, conf, model_x);
}

tableau_t *virus_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&virus_tex, 362, 363, image_virus, conf, model_x);
}
