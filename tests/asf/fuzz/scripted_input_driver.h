/*
** scripted_input_driver.h: a transport driver for the fuzz targets that
** sits behind the "tlitcp" row: sends are taken and dropped, receives
** hand out the fuzzed server bytes in pieces of a chosen size, and the
** connect lends buffers of a chosen size. One copy per fuzz program.
*/
#ifndef DVZ_TESTS_ASF_FUZZ_SCRIPTED_INPUT_DRIVER_H
#define DVZ_TESTS_ASF_FUZZ_SCRIPTED_INPUT_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_tl.h"
#include "tl_records.h"

namespace scripted_input {

/* The buffer size the connect lends. */
inline int32_t buffer_size = 2100;

/* What the server sends, handed out piece by piece. */
inline const uint8_t *input = nullptr;
inline size_t input_left = 0;
inline size_t piece = 1;

inline int fake_init(asfsvcctl *, void *, int, const char *) { return 0; }

inline int fake_send(drvblock *, rscbufctl *buf, asfsvcctl *ctl) {
  bufReg(static_cast<Assocctl *>(ctl->ascid), asf_buf_send, buf);
  return 0;
}

inline int fake_recv(drvblock *, rscbufctl **slot, asfsvcctl *ctl) {
  auto *assoc = static_cast<Assocctl *>(ctl->ascid);
  rscbufctl *buf = *slot;
  const bool own = buf == nullptr;
  if (own && bufGet(assoc, asf_buf_recv, &buf) != 0) {
    driver_error(ctl, TLI_ERR_OUTSTATE, 0);
    return -1;
  }
  if (input_left == 0) {
    if (own) bufReg(assoc, asf_buf_recv, buf);
    driver_error(ctl, TLI_ERR_PEERGONE, 0);
    return -1;
  }
  size_t n = piece < input_left ? piece : input_left;
  if (n > static_cast<size_t>(buf->lbuff)) n = static_cast<size_t>(buf->lbuff);
  std::memcpy(buf->buff, input, n);
  input += n;
  input_left -= n;
  buf->p = buf->buff;
  buf->size = static_cast<int32_t>(n);
  *slot = buf;
  return 0;
}

inline int fake_disc(drvblock *drv, int, asfsvcctl *ctl) {
  net_deallocate(drv, ctl);
  return 0;
}

inline constexpr opvec fake_vector = {
    fake_init, nullptr,   nullptr, nullptr, nullptr, fake_send, fake_recv, nullptr,
    nullptr,   fake_disc, nullptr, nullptr, nullptr, nullptr,   nullptr,   nullptr,
    nullptr,   nullptr,   nullptr, nullptr, nullptr, nullptr,
};
inline const opvec *fake_vector_of(int type) {
  return type == tl_drv_tlitcp ? &fake_vector : nullptr;
}

inline int fake_conn(drvblock *drv, tlconnreq *, asfsvcctl *ctl) {
  if (load_operation_vector(drv) != 0) return -1;
  drv->bufsize = buffer_size;
  drv->priv = asf_alloc(asf_pool_assoc, sizeof(tlictl));
  if (drv->priv == nullptr || net_buffer_setup(drv, static_cast<Assocctl *>(ctl->ascid), ctl) != 0)
    return -1;
  return 0;
}

inline tlnetsw table[8];
inline tl_driver_seam seam;

/* Puts the driver behind the "tlitcp" row of a copy of the switch table
** and installs the seam. */
inline void install() {
  int n = 0;
  for (; tlnetswtab[n].name != nullptr; ++n)
    table[n] = tlnetswtab[n];
  table[n] = tlnetswtab[n];
  for (int i = 0; i < n; ++i)
    if (std::strcmp(table[i].name, "tlitcp") == 0) table[i].conn = fake_conn;
  seam = {table, fake_vector_of};
}

}  // namespace scripted_input

#endif
