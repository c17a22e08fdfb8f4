/*
** pf_internal.h: helpers the protocol family's two halves share: the
** connecting side (protocol_family.cpp) defines them, the listening side
** (pf_listen.cpp) uses them. Internal to asf/pfslsqi.
*/
#ifndef DVZ_ASF_PF_INTERNAL_H
#define DVZ_ASF_PF_INTERNAL_H

#include <stdint.h>

#include "pf_records.h"

namespace pfsqi {

/* A request word that holds a record's address. */
template <typename T>
T *word_ptr(const asfsvcreq *req, int n) {
  return reinterpret_cast<T *>(req->word[n]);
}

/* Sets ctl's status and returns -1. */
int fail(asfsvcctl *ctl, int32_t status);
/* ctl's association when it is valid, else null. */
/* ctl's protocol-family block, or null when the association has none. */
pfblock *block_of(const asfsvcctl *ctl);
/* True for the products that carry no SQLI session ("raw", "dr"). */
bool raw_product(const char (&product)[ASC_NAME_SIZE]);
/* A new address text: text with its protocol field replaced by protocol
** (at most 8 characters). Null when memory is short or text is null. */
char *address_text(const char *text, const char (&protocol)[ASC_NAME_SIZE]);
/* Frees a response record of the session layer with its area. */
void free_response(rscbufctl *rec);

}  // namespace pfsqi

#endif
