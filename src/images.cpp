#include "images.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cassert>
#include <cstdint>

void image_release(const unsigned char *image, unsigned width, unsigned height)
{
  assert(image);
  const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
  const auto first = uintptr_t(image_pixels(image));
  const uintptr_t end = first + uintptr_t(width) * height * IMAGE_BPP;
  // Only whole pages inside the pixels: the header and the neighbouring
  // records keep theirs.
  const uintptr_t from = (first + page - 1) & ~(page - 1);
  const uintptr_t to = end & ~(page - 1);
  if (from >= to)
    return;
  // MADV_DONTNEED on a private file mapping that was never written drops our
  // mapping of the page cache; the next read faults the same bytes back in.
  madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
}
