// sprite-node: the game's four sprites as texture nodes with cached textures.
//
// Each constructor shows one embedded image (adult, baby, television, virus,
// at the sizes images.hpp states) through the caller's model matrix. The
// first call of a constructor uploads its image; the texture then stays in a
// file-scope cache for the whole run, so new playfields and infections
// upload nothing.
//
// Ownership: the cache keeps its creator's reference to each texture
// forever; each node holds one more, dropped when the node is freed. The
// matrix stays the caller's and must outlive the node.
//
// Does NOT: place, move or animate sprites; release the cache.
#pragma once

#include "tableau/tableau.hpp"

// The adult ("adult").
tableau_t *adult_node_new(const tableau_conf_t *conf, const float *model_x);
// A baby ("baby").
tableau_t *baby_node_new(const tableau_conf_t *conf, const float *model_x);
// The television ("tv").
tableau_t *tv_node_new(const tableau_conf_t *conf, const float *model_x);
// A virus; also the infected adult and infected babies.
tableau_t *virus_node_new(const tableau_conf_t *conf, const float *model_x);
