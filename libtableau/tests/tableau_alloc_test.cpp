// tableau_render must not allocate: every C allocation of this binary goes
// through the counting wrappers below (the link routes malloc, calloc and
// friends here with --wrap), and operator new is replaced by a counting one.
// The wrappers hand on to the real allocator, which under the sanitizers is
// theirs, so the test means the same in both builds.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#include "tableau/tableau.hpp"

namespace {
bool counting;
long allocations;
void count() {
  if (counting) ++allocations;
}
}  // namespace

// Each wrapper counts, then hands on to the real function.
#define ORB_WRAP(ret, name, params, args)        \
  ret __real_##name params;                       \
  ret __wrap_##name params {                      \
    count();                                      \
    return __real_##name args;                    \
  }
extern "C" {
ORB_WRAP(void *, malloc, (size_t size), (size))
ORB_WRAP(void *, calloc, (size_t n, size_t size), (n, size))
ORB_WRAP(void *, realloc, (void *ptr, size_t size), (ptr, size))
ORB_WRAP(void *, aligned_alloc, (size_t align, size_t size), (align, size))
ORB_WRAP(int, posix_memalign, (void **ptr, size_t align, size_t size), (ptr, align, size))
}

// Every replaced form allocates with malloc and releases with free, so the
// sanitizers see matching pairs.
namespace {
void *counted_new(size_t size) {
  void *p = malloc(size ? size : 1);
  if (!p) abort();
  return p;
}
}  // namespace
void *operator new(size_t size) { return counted_new(size); }
void *operator new[](size_t size) { return counted_new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return counted_new(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return counted_new(size); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { free(p); }

namespace {

int prepared, rendered;
void on_prepare(tableau_t *, void *, void *, float) { ++prepared; }
void on_render(tableau_t *, void *, void *, float) { ++rendered; }
const tableau_ops_t counting_ops = {on_prepare, on_render, nullptr};

tableau_t *make(tableau_t *parent, int layer, const tableau_ops_t *ops) {
  tableau_conf_t conf = {};
  conf.parent = parent;
  conf.layer = layer;
  conf.name = "node";
  conf.alpha = 1.0f;
  conf.active = 1;
  return tableau_new(&conf, ops, nullptr);
}

// Guards the render test against counters that see nothing.
TEST(tableau_alloc, the_counters_see_the_library_and_operator_new) {
  volatile size_t n = 32;  // keeps the compiler from eliding the new
  allocations = 0;
  counting = true;
  tableau_t *root = make(nullptr, 0, nullptr);
  std::unique_ptr<char[]> buffer(new char[n]);
  counting = false;
  buffer[0] = 1;
  EXPECT_EQ(allocations, 2);  // one calloc per node, one new
  tableau_free(root);
}

TEST(tableau_alloc, render_allocates_nothing_dirty_or_clean) {
  tableau_t *root = make(nullptr, 0, &counting_ops);
  int nodes = 1;
  for (int layer = 0; layer < TABLEAU_LAYERS_MAX; ++layer) {
    tableau_t *child = make(root, layer, layer % 3 ? &counting_ops : nullptr);
    ++nodes;
    for (int i = 0; i < 5; ++i, ++nodes) make(child, (layer + i) % TABLEAU_LAYERS_MAX, &counting_ops);
  }
  const int with_callbacks = nodes - 4;  // layers 0, 3, 6 and 9 hold table-less groups

  prepared = rendered = 0;
  allocations = 0;
  counting = true;
  tableau_dirty(root);
  const int drawn = tableau_render(root, nullptr);
  const int idle = tableau_render(root, nullptr);
  counting = false;

  EXPECT_EQ(allocations, 0);
  // The walks did run over the whole tree.
  EXPECT_EQ(drawn + 2 * idle, 1);
  EXPECT_EQ(prepared, 2 * with_callbacks);
  EXPECT_EQ(rendered, with_callbacks);
  tableau_free(root);
}

}  // namespace
