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

// The sizes are images.hpp's constants; the records' headers are not read.
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

}  // namespace

tableau_t *adult_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&adult_tex, IMAGE_ADULT_WIDTH, IMAGE_ADULT_HEIGHT, image_adult, conf,
                         model_x);
}

tableau_t *baby_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&baby_tex, IMAGE_BABY_WIDTH, IMAGE_BABY_HEIGHT, image_baby, conf, model_x);
}

tableau_t *tv_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&tv_tex, IMAGE_TV_WIDTH, IMAGE_TV_HEIGHT, image_tv, conf, model_x);
}

tableau_t *virus_node_new(const tableau_conf_t *conf, const float *model_x)
{
  return sprite_node_new(&virus_tex, IMAGE_VIRUS_WIDTH, IMAGE_VIRUS_HEIGHT, image_virus, conf,
                         model_x);
}
