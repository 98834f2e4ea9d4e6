// libFuzzer entry: the scene graph's model runner on the fuzzer's bytes,
// aborting at the first step where the library and the model disagree.
#include <cstdio>
#include <cstdlib>

#include "tableau-model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (const std::string fault = tableau_model::run(data, size); !fault.empty())
    fprintf(stderr, "tableau: the library and the model disagree at %s\n", fault.c_str()), abort();
  return 0;
}
