// clear-node: the scene node kind that wipes the frame.
//
// The shell hangs one ("gl-clear-fever") first on layer 0 of the root, so
// every render walk starts by clearing the colour and depth buffers to the
// GL default clear colour, black. The node has no object; its opacity has no
// effect.
//
// Making a clear node touches no GL, so it can be made before the GL context
// exists; only its render slot needs the context.
//
// Does NOT: set the clear colour, own anything, draw anything else.
#pragma once

#include "tableau/tableau.hpp"

// A clear node (no object); never NULL.
tableau_t *clear_node_new(const tableau_conf_t *conf);
// The render slot: clear colour and depth; every argument is ignored.
void clear_node_render(tableau_t *tableau, void *object, void *arg, float alpha);
