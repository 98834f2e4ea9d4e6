// qtree_fuzz: random sequences of adds, moves, frees, resets and searches on
// one quadtree, each search compared with a brute-force scan of a plain list
// of placed boxes, and the tree's structure checked after every step.
//
// Coordinates are multiples of 1/32 in about -2..2, so boxes often share
// edges with each other, with quadrant lines and with the root box, where
// closed-edge mistakes live. Box-search callbacks also change the tree the
// ways its contract allows (free the object met, move any object, add new
// ones, nest another search) and must still meet exactly the objects that
// overlapped when the search began, each once.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bytes.hpp"
#include "qtree/qtree.hpp"

namespace {

constexpr size_t SLOTS = 160;

struct model_t {
  qtree_object_t *object;  // null while the slot is empty
  aabb_t aabb;
  v2f_t offset;
  v2f_t align;
};

struct fuzz_t {
  bytes_t in;
  qtree_t *qtree;
  aabb_t root;
  model_t slots[SLOTS];
  int visits[SLOTS];  // per search level being checked: how often met
};

// Written out here rather than shared with the library, in the order its
// contract fixes, so that the model's edges are the tree's edges bit for bit.
aabb_t place(const aabb_t &b, const v2f_t &o, const v2f_t &a) {
  float sx = ((b.max.x - b.min.x) * 0.5f) * a.x;
  float sy = ((b.max.y - b.min.y) * 0.5f) * a.y;
  return {{(b.min.x + o.x) + sx, (b.min.y + o.y) + sy}, {(b.max.x + o.x) + sx, (b.max.y + o.y) + sy}};
}

bool overlap(const aabb_t &a, const aabb_t &b) {
  return a.min.x <= b.max.x && b.min.x <= a.max.x && a.min.y <= b.max.y && b.min.y <= a.max.y;
}

bool contains(const aabb_t &b, const v2f_t &p) {
  return b.min.x <= p.x && p.x <= b.max.x && b.min.y <= p.y && p.y <= b.max.y;
}

float coord(bytes_t *in) { return (int(bytes_u8(in)) - 128) / 32.0f; }

aabb_t read_box(bytes_t *in) {
  float x = coord(in), y = coord(in);
  float w = bytes_u8(in) / 64.0f, h = bytes_u8(in) / 64.0f;
  return {{x, y}, {x + w, y + h}};
}

// Offsets are mostly plain, seldom NaN (which overlaps nothing).
v2f_t read_offset(bytes_t *in) {
  uint8_t k = bytes_u8(in);
  if (k == 255) return {NAN, 0};
  return {(int(k) - 128) / 64.0f, (int(bytes_u8(in)) - 128) / 64.0f};
}

v2f_t read_align(bytes_t *in) {
  constexpr float VALUES[] = {-1, 0, 1, 0.5f};
  uint8_t k = bytes_u8(in);
  return {VALUES[k & 3], VALUES[(k >> 2) & 3]};
}

aabb_t placed(const model_t &m) { return place(m.aabb, m.offset, m.align); }

int slot_of(const void *data) { return int(reinterpret_cast<uintptr_t>(data)) - 1; }

int free_slot(fuzz_t *f) {
  for (size_t i = 0; i < SLOTS; i++)
    if (!f->slots[i].object) return int(i);
  return -1;
}

int live_slot(fuzz_t *f, uint8_t pick) {
  for (size_t n = 0; n < SLOTS; n++) {
    size_t i = (pick + n) % SLOTS;
    if (f->slots[i].object) return int(i);
  }
  return -1;
}

void op_new(fuzz_t *f) {
  int s = free_slot(f);
  if (s < 0) return;
  model_t &m = f->slots[s];
  m.aabb = read_box(&f->in);
  uint8_t parts = bytes_u8(&f->in);
  m.offset = parts & 1 ? read_offset(&f->in) : v2f_t{0, 0};
  m.align = parts & 2 ? read_align(&f->in) : v2f_t{0, 0};
  m.object = qtree_object_new(f->qtree, parts & 1 ? &m.offset : nullptr,
                              parts & 2 ? &m.align : nullptr, &m.aabb,
                              reinterpret_cast<void *>(uintptr_t(s + 1)));
  CHECK(m.object);
}

void op_move(fuzz_t *f, int s) {
  model_t &m = f->slots[s];
  uint8_t parts = bytes_u8(&f->in);
  if (parts & 1) m.offset = read_offset(&f->in);
  if (parts & 2) m.align = read_align(&f->in);
  if (parts & 4) m.aabb = read_box(&f->in);
  qtree_object_t *o = qtree_object_move(f->qtree, m.object, parts & 1 ? &m.offset : nullptr,
                                        parts & 2 ? &m.align : nullptr,
                                        parts & 4 ? &m.aabb : nullptr);
  CHECK(o == m.object);
}

void op_free(fuzz_t *f, int s) {
  qtree_object_free(f->qtree, f->slots[s].object);
  f->slots[s].object = nullptr;
}

// What a box search over (box, offset, align) must meet, per slot.
void expect_box(fuzz_t *f, const aabb_t &search, bool want[SLOTS]) {
  bool in_root = overlap(search, f->root);
  for (size_t i = 0; i < SLOTS; i++) {
    const model_t &m = f->slots[i];
    want[i] = m.object && in_root && overlap(placed(m), f->root) && overlap(placed(m), search);
  }
}

struct search_t {
  fuzz_t *f;
  bool want[SLOTS];   // slots that overlapped when the search began
  bool met[SLOTS];    // slots the callback was called for
  int mode;           // 0 plain, 1 decided results, 2 changes the tree
  uint32_t counted;   // results with QTREE_HIT
  bool stopped;       // a result without QTREE_CONTINUE
};

uint32_t box_search(fuzz_t *f, int mode);

uint32_t on_box_hit(void *ctx, qtree_object_t *object, const v2f_t *offset, const aabb_t *aabb,
                    void *data) {
  search_t *s = static_cast<search_t *>(ctx);
  fuzz_t *f = s->f;
  int slot = slot_of(data);
  CHECK(slot >= 0 && size_t(slot) < SLOTS);
  CHECK(f->slots[slot].object == object);
  CHECK(offset == &object->offset && aabb == &object->aabb);
  CHECK(!s->stopped);
  CHECK(s->want[slot]);
  CHECK(!s->met[slot]);
  s->met[slot] = true;
  uint32_t result = QTREE_HIT | QTREE_CONTINUE;
  if (s->mode == 1) {
    result = bytes_u8(&f->in) & 3;
  } else if (s->mode == 2) {
    uint8_t what = bytes_u8(&f->in);
    switch (what % 5) {
      case 0: op_free(f, slot); break;
      case 1: op_move(f, slot); break;
      case 2: {
        // Any object may move, also one still waiting to be met.
        int other = live_slot(f, bytes_u8(&f->in));
        if (other >= 0) op_move(f, other);
        break;
      }
      case 3: op_new(f); break;
      case 4:
        if (f->qtree->asip < f->qtree->max_asip) box_search(f, 0);
        break;
    }
  }
  if (result & QTREE_HIT) s->counted++;
  if (!(result & QTREE_CONTINUE)) s->stopped = true;
  return result;
}

uint32_t box_search(fuzz_t *f, int mode) {
  search_t s = {};
  s.f = f;
  s.mode = mode;
  aabb_t box = read_box(&f->in);
  uint8_t parts = bytes_u8(&f->in);
  v2f_t offset = parts & 1 ? read_offset(&f->in) : v2f_t{0, 0};
  v2f_t align = parts & 2 ? read_align(&f->in) : v2f_t{0, 0};
  expect_box(f, place(box, offset, align), s.want);
  const uint32_t asip = f->qtree->asip;
  bool plain = bytes_u8(&f->in) & 1;
  uint32_t n = qtree_search_by_aabb(f->qtree, parts & 1 ? &offset : nullptr,
                                    parts & 2 ? &align : nullptr, &box,
                                    plain ? nullptr : on_box_hit, &s);
  CHECK(f->qtree->asip == asip);
  uint32_t expected = 0;
  for (size_t i = 0; i < SLOTS; i++) expected += s.want[i];
  if (plain) {
    CHECK(n == expected);
  } else {
    CHECK(n == s.counted);
    if (!s.stopped)
      for (size_t i = 0; i < SLOTS; i++) CHECK(s.met[i] == s.want[i]);
  }
  return n;
}

struct point_t {
  fuzz_t *f;
  v2f_t p;
  bool met[SLOTS];
};

uint32_t on_point_hit(void *ctx, qtree_object_t *object, const v2f_t *, const aabb_t *,
                      void *data) {
  point_t *s = static_cast<point_t *>(ctx);
  int slot = slot_of(data);
  CHECK(slot >= 0 && size_t(slot) < SLOTS);
  CHECK(s->f->slots[slot].object == object);
  CHECK(!s->met[slot]);
  s->met[slot] = true;
  return QTREE_HIT | QTREE_CONTINUE;
}

void point_search(fuzz_t *f) {
  point_t s = {};
  s.f = f;
  s.p = {coord(&f->in), coord(&f->in)};
  uint32_t n = qtree_search_by_point(f->qtree, &s.p, on_point_hit, &s);
  uint32_t expected = 0;
  for (size_t i = 0; i < SLOTS; i++) {
    const model_t &m = f->slots[i];
    bool want = m.object && contains(f->root, s.p) && overlap(placed(m), f->root) &&
                contains(placed(m), s.p);
    CHECK(s.met[i] == want);
    expected += want;
  }
  CHECK(n == expected);
}

// Walk the tree with its boxes: every ref sits in a leaf its object's box
// overlaps, and every object is linked into exactly the leaves it overlaps.
void check_node(fuzz_t *f, node_t *node, aabb_t box, uint32_t depth, int refs[SLOTS]) {
  CHECK(depth <= f->qtree->max_depth);
  if (node->children) {
    CHECK(node->n_objects == 0);
    CHECK(qtree_list_empty(&node->refs));
    const v2f_t c = node->center, lo = box.min, hi = box.max;
    const aabb_t q[4] = {{{lo.x, c.y}, {c.x, hi.y}}, {{c.x, c.y}, {hi.x, hi.y}},
                         {{lo.x, lo.y}, {c.x, c.y}}, {{c.x, lo.y}, {hi.x, c.y}}};
    for (int i = 0; i < 4; i++) check_node(f, &node->children[i], q[i], depth + 1, refs);
    return;
  }
  uint32_t n = 0;
  for (qtree_link_t *pos = node->refs.next; pos != &node->refs; pos = pos->next, n++) {
    ref_t *ref = qtree_list_entry(pos, ref_t, node_link);
    CHECK(ref->node == node);
    int slot = slot_of(ref->object->data);
    CHECK(slot >= 0 && size_t(slot) < SLOTS && f->slots[slot].object == ref->object);
    CHECK(overlap(placed(f->slots[slot]), box));
    refs[slot]++;
  }
  CHECK(n == node->n_objects);
}

size_t count_leaves(node_t *node, aabb_t box, const aabb_t &target) {
  if (!overlap(box, target)) return 0;
  if (!node->children) return 1;
  const v2f_t c = node->center, lo = box.min, hi = box.max;
  const aabb_t q[4] = {{{lo.x, c.y}, {c.x, hi.y}}, {{c.x, c.y}, {hi.x, hi.y}},
                       {{lo.x, lo.y}, {c.x, c.y}}, {{c.x, lo.y}, {hi.x, c.y}}};
  size_t n = 0;
  for (int i = 0; i < 4; i++) n += count_leaves(&node->children[i], q[i], target);
  return n;
}

void check_tree(fuzz_t *f) {
  CHECK(f->qtree->asip == 0);
  int refs[SLOTS] = {};
  check_node(f, &f->qtree->root, f->root, 0, refs);
  for (size_t i = 0; i < SLOTS; i++) {
    const model_t &m = f->slots[i];
    if (!m.object) continue;
    for (uint32_t l = 0; l < f->qtree->max_asip; l++)
      CHECK(qtree_list_empty(&m.object->hit_links[l]));
    CHECK(size_t(refs[i]) == count_leaves(&f->qtree->root, f->root, placed(m)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzz_t f;
  f = {};
  f.in = {data, size, 0};
  const uint8_t head = bytes_u8(&f.in);
  const uint8_t limits = bytes_u8(&f.in);
  aabb_t custom = {{coord(&f.in), coord(&f.in)}, {0, 0}};
  custom.max = {custom.min.x + 0.25f + bytes_u8(&f.in) / 64.0f,
                custom.min.y + 0.25f + bytes_u8(&f.in) / 64.0f};
  f.root = head & 1 ? custom : aabb_t{{-1, -1}, {1, 1}};
  f.qtree = qtree_new(head & 1 ? &f.root : nullptr, 1 + (limits & 7), (limits >> 3) & 7,
                      1 + ((limits >> 6) & 1));
  CHECK(f.qtree);
  CHECK(!memcmp(&f.qtree->aabb, &f.root, sizeof f.root));

  while (bytes_more(&f.in)) {
    uint8_t op = bytes_u8(&f.in);
    int s = live_slot(&f, bytes_u8(&f.in));
    if (op < 90 || s < 0) op_new(&f);
    else if (op < 130) op_move(&f, s);
    else if (op < 160) op_free(&f, s);
    else if (op < 230) box_search(&f, op % 3);
    else if (op < 250) point_search(&f);
    else if (op >= 254) {
      qtree_reset(f.qtree);
      for (model_t &m : f.slots) m.object = nullptr;
    }
    check_tree(&f);
  }
  qtree_free(f.qtree);
  return 0;
}
