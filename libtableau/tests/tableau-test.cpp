// The scene graph against its reference model on random operation
// sequences, and the assertions that guard its contract.
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <random>

#include "tableau-model.hpp"

TEST(tableau_model, random_operations_call_back_return_and_find_as_the_model_says) {
  const size_t before = mallinfo2().uordblks;
  std::mt19937 rng(1);
  for (int run = 0; run < 300; run++) {
    std::vector<uint8_t> bytes(rng() % 4000);  // random bytes, hence random operations
    std::generate(bytes.begin(), bytes.end(), rng);
    ASSERT_EQ(tableau_model::run(bytes.data(), bytes.size()), "") << "run " << run;
  }
  EXPECT_LT(mallinfo2().uordblks, before + (1 << 20)) << "freed nodes give their memory back";
}

TEST(tableau_assert, broken_preconditions_abort_naming_the_expression) {
  static tableau_conf_t conf = {nullptr, 0, "root", 1.0f, 1, 0, 0};
  static tableau_t *const root = tableau_new(&conf, nullptr, nullptr);
  const struct { void (*call)(); const char *expression; } rows[] = {
      {[] { conf.layer = 1, tableau_new(&conf, nullptr, nullptr); }, "conf->parent \\|\\| !conf->layer"},
      {[] { conf.parent = root, conf.layer = TABLEAU_LAYERS_MAX, tableau_new(&conf, nullptr, nullptr); },
       "conf->layer < TABLEAU_LAYERS_MAX"},
      {[] { tableau_set_layer(root, 0); }, "tableau->parent"},
      {[] { conf.parent = root, tableau_render(tableau_new(&conf, nullptr, nullptr), nullptr); }, "!tableau->parent"},
  };
  for (const auto &row : rows)  // a child that loops is stopped by the alarm
    EXPECT_DEATH((alarm(10), row.call()), std::string("Assertion `") + row.expression + "' failed");
}
