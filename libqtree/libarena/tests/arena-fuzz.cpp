// libFuzzer entry: the arena's model runner on the fuzzer's bytes.
#include "arena-model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return arena_model_run(data, size), 0; }
