/*
** reply_record.h: frees what the reply readers leave on a cursor or
** statement record (column descriptions and their texts, the fetch
** buffer, the name pools, the row-length table, the marked-row bitmap)
** and zeroes it, as the tests, fuzz targets and benchmarks of the reply
** side end each record.
*/
#ifndef DVZ_TESTS_SQLI_REPLY_RECORD_H
#define DVZ_TESTS_SQLI_REPLY_RECORD_H

#include "sqli_reply.h"
#include "sqli_seams.h"

namespace sqli_test {

inline void free_record(sqli_cursor *c) {
  freedbfd(c);
  for (void *block : {static_cast<void *>(c->buffer), static_cast<void *>(c->colname_pool),
                      static_cast<void *>(c->conv_colname_pool),
                      static_cast<void *>(c->rowlen_table), static_cast<void *>(c->marked_rows)})
    sqli_release(block);
  *c = sqli_cursor {};
}

}  // namespace sqli_test

#endif
