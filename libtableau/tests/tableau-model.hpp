// A reference model of the scene graph, and the runner that applies the
// operations spelled by a byte string to the library and to the model alike.
// After every step it compares each callback (slot, node, object, argument,
// effective alpha, in order), the step's result and every live node's
// accessors. Shared by the random model test and the fuzz entry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tableau/tableau.hpp"

namespace tableau_model {

// A callback: slot ('p'repare, 'r'ender, 'f'ree), node, object, argument,
// alpha, and for a free whether the node was already detached and childless.
using call_t = std::tuple<char, tableau_t *, void *, void *, float, bool>;
inline std::vector<call_t> seen;

template <char s> void called(tableau_t *t, void *o, void *arg, float a) { seen.push_back({s, t, o, arg, a, false}); }
inline void release(tableau_t *t, void *o)
{
  const auto bare = [](const tableau_link_t &head) { return head.next == &head; };
  seen.push_back({'f', t, o, nullptr, 0, bare(t->link) && std::all_of(t->layers, t->layers + TABLEAU_LAYERS_MAX, bare)});
}
// Kinds: recording, and no table at all.
inline const tableau_ops_t recording = {called<'p'>, called<'r'>, release};
inline const tableau_ops_t *const kinds[] = {&recording, nullptr};
// Shared names, and long ones alike in their first 15 or 16 characters.
inline const char *const names[] = {"", "a", "virus", "sixteen-chars-a", "sixteen-chars-ab", "sixteen-chars-abXY",
                                    "sixteen-chars-abZ"};
inline const float alphas[] = {1.0f, 0.5f, 0.0f, 0.3f, 2.0f, -1.0f, 1e-20f};

// parent -1 for a root; place: the layer, then the order within it; name: as given, any length.
struct node_t {
  tableau_t *t;
  int parent, kind;
  uint64_t place;
  std::string name;
  float alpha;
  bool active, locked, dirty, alive;
  uintptr_t object;
};

struct runner_t {
  const uint8_t *data;
  size_t size, pos = 0;
  std::vector<node_t> n{};
  std::vector<call_t> want{};
  uint64_t order = 0;
  uintptr_t objects = 0;

  unsigned next(unsigned k) { return pos < size ? data[pos++] % k : 0; }
  static void *obj(uintptr_t id) { return reinterpret_cast<void *>(16 * id + 16); }
  uint64_t place(unsigned layer) { return uint64_t(layer) << 32 | ++order; }
  int root(int i) { return n[i].parent < 0 ? i : root(n[i].parent); }
  std::vector<int> kids(int p)
  {  // p -1: every live node
    std::vector<int> k;
    for (int i = 0; i < int(n.size()); i++)
      if (n[i].alive && (p < 0 || n[i].parent == p)) k.push_back(i);
    return std::ranges::sort(k, {}, [&](int a) { return n[a].place; }), k;
  }
  void walk(int i, char slot, void *arg, float alpha)
  {
    alpha *= n[i].alpha;
    if (n[i].kind != 1) want.push_back({slot, n[i].t, obj(n[i].object), arg, alpha, false});
    for (int c : kids(i))
      if (n[c].active) walk(c, slot, arg, alpha);
  }
  bool free(int i, bool force)
  {  // unforced, a locked node stays, and so does every node above a kept one
    bool all = force || !n[i].locked;
    for (int c : all ? kids(i) : std::vector<int>()) all = free(c, force) && all;
    if (all && n[i].kind != 1) want.push_back({'f', n[i].t, obj(n[i].object), nullptr, 0, true});
    return n[i].alive = !all, all;
  }
  int find(int i, const std::string &q)
  {
    if (n[i].name.substr(0, 16) == q.substr(0, 16)) return i;
    for (int c : kids(i))
      if (int f = find(c, q); f >= 0) return f;
    return -1;
  }
  // One operation on a live node; false when the library's result is not the model's.
  bool step(unsigned op, std::vector<int> live)
  {
    const int i = live.empty() ? -1 : live[next(live.size())];
    if (i < 0 || op < 2) {  // a child, or sometimes a root
      const int parent = i < 0 || !next(6) ? -1 : i, layer = parent < 0 ? 0 : next(10), kind = next(2);
      const unsigned f = next(8), name = next(7), alpha = next(7);
      const tableau_conf_t conf = {parent < 0 ? nullptr : n[parent].t, layer, names[name], alphas[alpha],
                                   f & 1, f >> 1 & 1, f >> 2 & 1};
      n.push_back({tableau_new(&conf, kinds[kind], obj(++objects)), parent, kind, place(layer), names[name],
                   alphas[alpha], bool(f & 1), bool(f & 2), bool(f & 4), true, objects});
      return n.back().t;
    }
    node_t &m = n[i];
    const unsigned v = next(10);
    switch (op) {
    case 2:
      return v ? free(i, true), tableau_free(m.t) == 0 : tableau_free(nullptr) == 0;
    case 3:
      return std::ranges::for_each(kids(i), [&](int c) { free(c, false); }), tableau_free_children(m.t), true;
    case 4:
      return m.parent < 0 || (tableau_set_layer(m.t, v), (m.place = place(v)));
    case 5:
      return tableau_set_active(m.t, v), m.active = v & 1, true;
    case 6:
      return tableau_set_alpha(m.t, m.alpha = alphas[v % 7]), true;
    case 7:
      return tableau_set_locked(m.t, v), m.locked = v & 1, true;
    case 8:  // the old object goes through the old table; name, table and object change
      if (m.kind != 1) want.push_back({'f', m.t, obj(m.object), nullptr, 0, m.parent < 0 && kids(i).empty()});
      m.name = names[v % 7], m.kind = v % 2, m.object = ++objects;
      return tableau_replace(m.t, m.name.c_str(), kinds[m.kind], obj(m.object)), true;
    case 9:
      return tableau_dirty(m.t), n[root(i)].dirty = true;
    case 10: {  // render the node's root: the prepare walk, then the render walk if dirty
      node_t &r = n[root(i)];
      if (r.active) walk(root(i), 'p', obj(v), 1.0f);
      const bool dirty = std::exchange(r.dirty, false);
      if (dirty && r.active) walk(root(i), 'r', obj(v), 1.0f);
      return tableau_render(r.t, obj(v)) == dirty;
    }
    default:  // lookup in the node's subtree
      const int f = find(i, names[v % 7]);
      return tableau_lookup_name(m.t, names[v % 7]) == (f < 0 ? nullptr : n[f].t);
    }
  }
  bool agrees()
  {  // the calls since the last step (forgotten here), then every live node's accessors
    bool same = std::exchange(seen, {}) == std::exchange(want, {});
    for (int i : kids(-1))
      same = same && tableau_get_alpha(n[i].t) == n[i].alpha && tableau_get_active(n[i].t) == n[i].active &&
             tableau_get_locked(n[i].t) == n[i].locked && tableau_get_object(n[i].t) == obj(n[i].object) &&
             n[i].t->branch == !kids(i).empty();  // the walks' bit: the node has a child
    return same;
  }
};

// Runs the operations, then frees every root; "" when the library and the
// model agreed throughout, else the step where they first did not.
inline std::string run(const uint8_t *data, size_t size)
{
  runner_t r{.data = data, .size = size};
  for (int step = 0; r.pos < size && r.n.size() < 256; step++)
    if (const unsigned op = r.next(12); !r.step(op, r.kids(-1)) || !r.agrees())
      return "step " + std::to_string(step) + ", operation " + std::to_string(op);
  for (int i : r.kids(-1))
    if (r.n[i].alive && r.n[i].parent < 0) r.free(i, true), tableau_free(r.n[i].t);
  return r.agrees() && r.kids(-1).empty() ? "" : "final release";
}

}  // namespace tableau_model
