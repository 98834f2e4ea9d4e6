// The scene graph against its reference model on random operation
// sequences, and the assertions that guard its contract.
#include <gtest/gtest.h>

#include <malloc.h>

#include <random>

#include "tableau-model.hpp"

TEST(tableau_model, random_operations_call_back_return_and_find_as_the_model_says) {
  const size_t before = mallinfo2().uordblks;
  std::mt19937 rng(1);
  for (int run = 0; run < 300; run++) {
    std::vector<uint8_t> bytes(rng() % 4000);
    std::generate(bytes.begin(), bytes.end(), rng);
    ASSERT_EQ(tableau_model::run(bytes.data(), bytes.size()), "") << "run " << run;
  }
  EXPECT_LT(mallinfo2().uordblks, before + (1 << 20)) << "freed nodes give their memory back";
}

tableau_t *node(tableau_t *parent, int layer, const char *name) {
  const tableau_conf_t conf = {parent, layer, name, 1.0f, 1, 0, 0};
  return tableau_new(&conf, nullptr, nullptr);
}
tableau_t *const root = node(nullptr, 0, "root"), *const child = node(root, 9, "child");

TEST(tableau_assert, broken_preconditions_abort_naming_the_expression) {
  const struct { void (*call)(); const char *expression; } rows[] = {
      {[] { tableau_new(nullptr, nullptr, nullptr); }, "conf"},
      {[] { node(nullptr, 1, "r"); }, "conf->parent \\|\\| !conf->layer"},
      {[] { node(root, TABLEAU_LAYERS_MAX, "c"); }, "conf->layer < TABLEAU_LAYERS_MAX"},
      {[] { node(root, 0, nullptr); }, "name"},
      {[] { tableau_replace(child, nullptr, nullptr, nullptr); }, "name"},
      {[] { tableau_lookup_name(root, nullptr); }, "name"},
      {[] { tableau_set_layer(root, 0); }, "tableau->parent"},
      {[] { tableau_render(child, nullptr); }, "!tableau->parent"},
      {[] { tableau_dirty(nullptr); }, "tableau"},
  };
  for (const auto &row : rows)
    EXPECT_DEATH(row.call(), std::string("Assertion `") + row.expression + "' failed");
}
