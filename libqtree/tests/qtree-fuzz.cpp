// libFuzzer entry: the qtree's model runner on the fuzzer's bytes.
#include "qtree-model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return qtree_model_run(data, size), 0; }
