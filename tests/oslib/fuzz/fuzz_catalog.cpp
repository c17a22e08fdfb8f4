/*
** Fuzz target: the message-catalog reader. The input is a whole catalog
** file, set as the explicit catalog, so that every number (the fallback
** texts' own numbers included) is read from it. The number of each index
** entry the input holds, its neighbours and the two fallback numbers are
** looked up with a roomy buffer and a short one: every result is one of
** the reader's statuses (-1 for a fallback number it cannot give), the
** text is terminated inside the buffer and its reported length is that of
** the text. When the tests' own decoder takes the file as well formed,
** each entry's text comes back (cut to a short buffer with -1232) and
** every other number misses with -1228 (-1 for the unknown-number
** fallback's own).
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog_encoder.h"
#include "dvz_be.h"
#include "fuzz_environment.h"
#include "os_gentcb.h"
#include "os_messages.h"

namespace {

constexpr size_t max_input = 8192;
/* Index entries whose numbers are looked up. */
constexpr size_t max_entries = 24;

std::string catalog;

[[noreturn]] void fail(const char *what, int32_t number, int16_t size, int result) {
  std::fprintf(stderr, "fuzz_catalog: %s (number %d, buffer %d, result %d)\n", what,
               static_cast<int>(number), static_cast<int>(size), result);
  std::abort();
}

/* -1 only for a fallback number that the catalog cannot give. */
bool reader_status(int32_t number, int result) {
  if (result == -1) return number == msg_number_no_file || number == msg_number_no_message;
  switch (result) {
    case 0:
    case msg_err_text_cut:
    case msg_err_no_file:
    case msg_err_no_number:
    case msg_err_bad_magic:
    case msg_err_index_read:
      return true;
    default:
      return false;
  }
}

void look_up(int32_t number, int16_t size,
             const std::optional<std::vector<catalog_test::message>> &decoded) {
  std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size)]);
  std::memset(buffer.get(), 'Z', static_cast<size_t>(size));
  int32_t length = -99;
  const int result = rgetlmsg(number, buffer.get(), size, &length);
  if (!reader_status(number, result)) fail("not a status of the reader", number, size, result);
  const void *end = std::memchr(buffer.get(), '\0', static_cast<size_t>(size));
  if (end == nullptr) fail("text not terminated inside the buffer", number, size, result);
  if (length != static_cast<const char *>(end) - buffer.get())
    fail("reported length is not the text's", number, size, result);
  if (!decoded) return;
  for (const catalog_test::message &m : *decoded) {
    if (m.number != number) continue;
    const size_t n = std::min(m.text.size(), static_cast<size_t>(size - 1));
    const int expected = m.text.size() < static_cast<size_t>(size) ? 0 : msg_err_text_cut;
    if (result != expected) fail("entry of a well-formed catalog", number, size, result);
    if (std::memcmp(buffer.get(), m.text.data(), n) != 0 || buffer[n] != '\0')
      fail("text differs from the entry's", number, size, result);
    return;
  }
  const int miss = number == msg_number_no_message ? -1 : msg_err_no_number;
  if (result != miss) fail("miss in a well-formed catalog", number, size, result);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  catalog = fuzz_environment::init() + "/catalog.iem";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  fuzz_environment::write_file(catalog, data, size);
  rclosemsg();
  if (_setmsgfile(catalog.c_str()) != 0) fail("_setmsgfile", 0, 0, -1);
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  const auto decoded = catalog_test::decode_catalog(bytes);

  std::vector<int32_t> numbers = {msg_number_no_file, msg_number_no_message, 0};
  const bool wide = size >= 2 && dvz_ld_be_u16(bytes.data()) == msg_magic_wide;
  const size_t entry_size = wide ? 10 : 8;
  for (size_t at = 4; at + entry_size <= size && numbers.size() < 3 * max_entries;
       at += entry_size) {
    const uint32_t n = wide ? dvz_ld_be_u32(bytes.data() + at)
                            : static_cast<uint32_t>(dvz_ld_be_i16(bytes.data() + at));
    for (uint32_t near : {n, n - 1, n + 1})
      numbers.push_back(static_cast<int32_t>(near));
  }
  /* Twice: the second round meets the kept index block. */
  for (int round = 0; round < 2; ++round) {
    for (int32_t number : numbers) {
      look_up(number, 512, decoded);
      look_up(number, 5, decoded);
    }
  }
  rclosemsg();
  return 0;
}
