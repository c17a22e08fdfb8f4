/*
** Fuzz target: the SAP response reader and the entry match on datagrams
** from the network. A datagram is read only when it is a response of
** 2 + 64k bytes with at most 7 entries; every entry's name must come out
** terminated within its 49 bytes, and matching it against a database or
** file-server name must stay within those bytes.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "spx_records.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_sap_datagram: %s (%ld)\n", what, value);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > SAP_RECV_SIZE + 64) return 0;
  sap_entry entries[SAP_MAX_ENTRIES];
  const int n = sap_read_response(data, size, entries);
  const bool whole = size >= 2 && (size - 2) % SAP_ENTRY_SIZE == 0 &&
                     (size - 2) / SAP_ENTRY_SIZE <= SAP_MAX_ENTRIES && data[0] == 0 &&
                     data[1] == SAP_OP_RESPONSE;
  if (!whole) {
    if (n != -1) fail("read a datagram that is no whole response", n);
    return 0;
  }
  if (n != static_cast<int>((size - 2) / SAP_ENTRY_SIZE)) fail("wrong entry count", n);
  static const char *const names[] = {"DB1", "",
                                      "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUV"};
  for (int i = 0; i < n; ++i) {
    if (strnlen(entries[i].name, sizeof entries[i].name) >= sizeof entries[i].name)
      fail("name not terminated", i);
    if (entries[i].hops < 0 || entries[i].hops > 0xffff) fail("hop count out of range", i);
    for (const char *name : names) {
      for (int type : {SAP_TYPE_DBSERVER, SAP_TYPE_FILESERVER, entries[i].type}) {
        const int m = sap_entry_matches(&entries[i], type, name);
        if (m != 0 && m != 1) fail("match is no boolean", m);
        if (m == 1 && entries[i].type != type) fail("matched another type", type);
      }
    }
  }
  return 0;
}
