/*
** Fuzz target: the shared-memory driver's rendezvous reader over a
** fuzzed file image, in a heap block of exactly its length, so that a read
** past it is an address-sanitizer report. A count is accepted only when
** the image holds that many records; every record the count promises
** reads, the one after it does not. The first byte also picks an attach
** base text, checked to give a page-aligned base below 4 GiB.
*/
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "../../../asf/net/shm_driver.h"
#include "fuzz_environment.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_shm_rendezvous: %s (%ld)\n", what, value);
  std::abort();
}

constexpr const char *base_texts[] = {nullptr, "", "-", "0x1000", "4096", "0", "junk", "3999999"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const size_t length = size - 1;
  auto image = std::make_unique<uint8_t[]>(length);
  std::memcpy(image.get(), data + 1, length);
  int32_t count = -1;
  if (shm_rend_count(image.get(), length, &count) == 0) {
    if (count < 0 || SM_REND_COUNT_SIZE + size_t(count) * SM_REND_SIZE > length)
      fail("count beyond the image", count);
    sm_rendrec rec {};
    for (int32_t i = 0; i < count; ++i)
      if (shm_rend_record(image.get(), length, i, &rec) != 0) fail("promised record", i);
    if (shm_rend_record(image.get(), length, count + 1, &rec) == 0 &&
        SM_REND_COUNT_SIZE + size_t(count + 2) * SM_REND_SIZE > length)
      fail("record past the image", count + 1);
    uintptr_t base = 0;
    const char *text = base_texts[data[0] % (sizeof base_texts / sizeof *base_texts)];
    if (shm_attach_base(text, rec.srvaddr, &base) == 0) {
      if (base == 0 || base >= SM_ADDR_LIMIT) fail("base out of range", long(base));
      if ((text == nullptr || text[0] != '-') && base % uintptr_t(sysconf(_SC_PAGESIZE)) != 0)
        fail("base not page-aligned", long(base));
    }
  } else {
    sm_rendrec rec {};
    (void)shm_rend_record(image.get(), length, int32_t(data[0]), &rec);
  }
  return 0;
}
