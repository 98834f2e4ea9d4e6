// tableau_fuzz: random sequences of node creation, freeing, clearing, layer
// moves, flag and object changes, renders and lookups on one scene, compared
// with a plain model tree (children in vectors, one per layer).
//
// Every render's prepare and render calls must come in the model's walk
// order with the model's product of opacities, bit for bit; every node's
// free callback must run exactly once, on a detached and childless node; an
// unforced clear keeps locked nodes and everything above them.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bytes.hpp"
#include "tableau/tableau.hpp"

namespace {

constexpr size_t NODES_MAX = 192;
constexpr const char *NAMES[] = {"a", "b", "fever", "", "sixteen-chars-ab", "sixteen-chars-abXY"};
constexpr float ALPHAS[] = {1.0f, 0.5f, 0.0f, 0.3f, 2.0f, -1.0f, 0.99f, 1e-20f};

struct mnode_t {
  tableau_t *t;                                // null once freed
  int parent;                                  // model index, -1 for the root
  std::vector<int> layers[TABLEAU_LAYERS_MAX];
  float alpha;
  bool active;
  bool locked;
  std::string name;                            // at most 16 characters
  int kind;                                    // index into KINDS
  int object;                                  // the id the node's object points to
};

struct call_t {
  tableau_t *t;
  float alpha;
};

std::vector<mnode_t> model;
std::vector<call_t> prepared, rendered;
std::vector<int> objects;        // object ids; a node's object points into it
std::vector<int> freed_objects;  // ids seen by free callbacks, in order
void *render_arg = &model;

void on_prepare(tableau_t *t, void *object, void *arg, float alpha) {
  CHECK(arg == render_arg);
  CHECK(object == t->object);
  prepared.push_back({t, alpha});
}

void on_render(tableau_t *t, void *object, void *arg, float alpha) {
  CHECK(arg == render_arg);
  CHECK(object == t->object);
  rendered.push_back({t, alpha});
}

bool replacing;  // a free callback from tableau_replace sees the node in place

void on_free(tableau_t *t, void *object) {
  CHECK(object == t->object);
  freed_objects.push_back(*static_cast<int *>(object));
  if (replacing) return;
  CHECK(t->link.next == &t->link && t->link.prev == &t->link);
  for (tableau_link_t &head : t->layers) CHECK(head.next == &head);
}

constexpr tableau_ops_t FULL = {on_prepare, on_render, on_free};
constexpr tableau_ops_t RENDER_ONLY = {nullptr, on_render, nullptr};
const tableau_ops_t *const KINDS[] = {&FULL, &RENDER_ONLY, nullptr};

int *new_object() {
  // Ids index a fixed pool so pointers stay valid while the vector grows.
  static int pool[1 << 16];
  int id = int(objects.size());
  CHECK(size_t(id) < sizeof pool / sizeof *pool);
  objects.push_back(id);
  pool[id] = id;
  return &pool[id];
}

bool has_free(int kind) { return KINDS[kind] && KINDS[kind]->free; }

std::vector<int> live_nodes() {
  std::vector<int> live;
  for (size_t i = 0; i < model.size(); i++)
    if (model[i].t) live.push_back(int(i));
  return live;
}

void detach(int i) {
  int p = model[i].parent;
  if (p < 0) return;
  for (auto &layer : model[p].layers)
    for (size_t k = 0; k < layer.size(); k++)
      if (layer[k] == i) {
        layer.erase(layer.begin() + long(k));
        return;
      }
  CHECK(0);
}

// Free a model subtree as the library must: children first, a locked node
// (unforced) stays, and so does any node below which something stayed.
// Returns whether the node went; expected free callbacks are appended.
bool model_free(int i, bool force, std::vector<int> &expect) {
  if (model[i].locked && !force) return false;
  bool empty = true;
  for (int l = 0; l < TABLEAU_LAYERS_MAX; l++) {
    std::vector<int> children = model[i].layers[l];
    for (int c : children)
      if (!model_free(c, force, expect)) empty = false;
  }
  if (!empty) return false;
  detach(i);
  if (has_free(model[i].kind)) expect.push_back(model[i].object);
  model[i].t = nullptr;
  return true;
}

void model_walk(int i, float inherited, bool render, std::vector<call_t> &out) {
  const mnode_t &m = model[i];
  float alpha = inherited * m.alpha;
  const tableau_ops_t *ops = KINDS[m.kind];
  if (ops && (render ? ops->render : ops->prepare)) out.push_back({m.t, alpha});
  for (const auto &layer : m.layers)
    for (int c : layer)
      if (model[c].active) model_walk(c, alpha, render, out);
}

int model_lookup(int i, const std::string &name) {
  if (model[i].name == name.substr(0, 16)) return i;
  for (const auto &layer : model[i].layers)
    for (int c : layer) {
      int found = model_lookup(c, name);
      if (found >= 0) return found;
    }
  return -1;
}

void check_calls(const std::vector<call_t> &got, const std::vector<call_t> &want) {
  CHECK(got.size() == want.size());
  for (size_t k = 0; k < got.size(); k++) {
    CHECK(got[k].t == want[k].t);
    CHECK(!memcmp(&got[k].alpha, &want[k].alpha, sizeof(float)));
  }
}

// The library's own lists must match the model's vectors exactly.
void check_links(int i) {
  const mnode_t &m = model[i];
  CHECK(m.t->active == m.active && m.t->locked == m.locked);
  CHECK(!memcmp(&m.t->alpha, &m.alpha, sizeof(float)));
  for (int l = 0; l < TABLEAU_LAYERS_MAX; l++) {
    tableau_link_t *head = &m.t->layers[l], *pos = head->next;
    for (int c : m.layers[l]) {
      CHECK(pos != head);
      CHECK(pos == &model[c].t->link);
      CHECK(pos->next->prev == pos);
      CHECK(model[c].t->parent == m.t);
      check_links(c);
      pos = pos->next;
    }
    CHECK(pos == head);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  bytes_t in = {data, size, 0};
  model.clear();
  objects.clear();
  freed_objects.clear();
  CHECK(tableau_free(nullptr) == 0);

  tableau_conf_t conf = {};
  conf.name = "fever";
  conf.alpha = ALPHAS[bytes_u8(&in) % 8];
  conf.active = 1;
  mnode_t root = {};
  root.t = tableau_new(&conf, &FULL, new_object());
  CHECK(root.t);
  root.parent = -1;
  root.alpha = conf.alpha;
  root.active = true;
  root.name = "fever";
  root.object = 0;
  model.push_back(root);

  while (bytes_more(&in)) {
    const uint8_t op = bytes_u8(&in);
    std::vector<int> live = live_nodes();
    int pick = live[bytes_u8(&in) % live.size()];
    mnode_t *m = &model[pick];
    if (op < 80 && model.size() < NODES_MAX) {
      uint8_t a = bytes_u8(&in), b = bytes_u8(&in);
      mnode_t n = {};
      n.parent = pick;
      int layer = a % TABLEAU_LAYERS_MAX;
      n.name = std::string(NAMES[b % 6]).substr(0, 16);
      n.alpha = ALPHAS[(b >> 3) & 7];
      n.active = (a >> 4) & 1;
      n.locked = (a >> 5) & 1;
      n.kind = (a >> 6) % 3;
      tableau_conf_t c = {m->t, layer, NAMES[b % 6], n.alpha, n.active, n.locked, 0};
      int *object = new_object();
      n.object = *object;
      n.t = tableau_new(&c, KINDS[n.kind], object);
      CHECK(n.t && n.t->parent == m->t);
      model.push_back(n);
      model[pick].layers[layer].push_back(int(model.size() - 1));
    } else if (op < 100 && pick != 0) {
      std::vector<int> expect;
      freed_objects.clear();
      tableau_t *t = m->t;
      CHECK(model_free(pick, true, expect));
      CHECK(tableau_free(t) == 0);
      CHECK(freed_objects == expect);
    } else if (op < 115) {
      std::vector<int> expect;
      freed_objects.clear();
      for (auto &layer : std::vector<std::vector<int>>(m->layers, m->layers + TABLEAU_LAYERS_MAX))
        for (int c : layer) model_free(c, false, expect);
      tableau_free_children(model[pick].t);
      CHECK(freed_objects == expect);
    } else if (op < 140 && pick != 0) {
      int layer = bytes_u8(&in) % TABLEAU_LAYERS_MAX;
      detach(pick);
      model[m->parent].layers[layer].push_back(pick);
      tableau_set_layer(m->t, layer);
    } else if (op < 160) {
      m->alpha = ALPHAS[bytes_u8(&in) % 8];
      tableau_set_alpha(m->t, m->alpha);
      float got = tableau_get_alpha(m->t);
      CHECK(!memcmp(&got, &m->alpha, sizeof got));
    } else if (op < 175) {
      int v = bytes_u8(&in);
      m->active = v & 1;
      tableau_set_active(m->t, v);
      CHECK(tableau_get_active(m->t) == m->active);
    } else if (op < 185) {
      int v = bytes_u8(&in);
      m->locked = v & 1;
      tableau_set_locked(m->t, v);
      CHECK(tableau_get_locked(m->t) == m->locked);
    } else if (op < 200) {
      uint8_t b = bytes_u8(&in);
      freed_objects.clear();
      std::vector<int> expect;
      if (has_free(m->kind)) expect.push_back(m->object);
      int *object = new_object();
      m->kind = b % 3;
      m->object = *object;
      m->name = std::string(NAMES[(b >> 2) % 6]).substr(0, 16);
      replacing = true;
      tableau_replace(m->t, NAMES[(b >> 2) % 6], KINDS[m->kind], object);
      replacing = false;
      CHECK(freed_objects == expect);
      CHECK(tableau_get_object(m->t) == object);
    } else if (op < 240) {
      // Dirty from any node marks the root; the render walk runs only then.
      bool dirty = bytes_u8(&in) & 1;
      if (dirty) tableau_dirty(m->t);
      prepared.clear();
      rendered.clear();
      std::vector<call_t> want_prepared, want_rendered;
      if (model[0].active) {
        model_walk(0, 1.0f, false, want_prepared);
        if (dirty) model_walk(0, 1.0f, true, want_rendered);
      }
      CHECK(tableau_render(model[0].t, render_arg) == int(dirty));
      CHECK(!model[0].t->dirty);
      check_calls(prepared, want_prepared);
      check_calls(rendered, want_rendered);
    } else {
      const char *name = NAMES[bytes_u8(&in) % 6];
      int want = model_lookup(pick, name);
      CHECK(tableau_lookup_name(m->t, name) == (want < 0 ? nullptr : model[want].t));
    }
    check_links(0);
  }
  std::vector<int> expect;
  freed_objects.clear();
  tableau_t *top = model[0].t;
  model_free(0, true, expect);
  CHECK(tableau_free(top) == 0);
  CHECK(freed_objects == expect);
  return 0;
}
