// digit-node: a texture node showing one decimal digit.
//
// The ten digit images (184 x 288 each) are uploaded on demand, one texture
// per digit, the first time a node for that digit is made, and kept in a
// file-scope cache for the whole run, so a changing score uploads nothing.
//
// Ownership: the cache keeps its creator's reference to each digit texture
// forever; each node holds one more, dropped when the node is freed.
//
// Does NOT: lay digits out, format numbers, or release the cache.
#pragma once

#include "tableau/tableau.hpp"

// A texture node showing digit (0 to 9) through the caller's model_x; never NULL.
tableau_t *digit_node_new(const tableau_conf_t *conf, unsigned digit, const float *model_x);
