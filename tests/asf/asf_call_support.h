/*
** asf_call_support.h: the service calls the end-to-end tests of the
** association services make through ASF_Call (a fresh control record
** comes from asf_test_support.h): the services' start and end, and
** sending and receiving a byte string over an association, piece by
** piece, whatever the transport's buffer size.
*/
#ifndef DVZ_TESTS_ASF_CALL_SUPPORT_H
#define DVZ_TESTS_ASF_CALL_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "asc_codec.h"
#include "asf_call.h"
#include "asf_records.h"
#include "asf_test_support.h"

namespace asf_test {

/* The words of the services' start that vary between tests: word 1
** (the options) and words 4 and 6 (0: left out). */
struct InitWords {
  uintptr_t options = 17;
  uintptr_t word4 = 0;
  uintptr_t word6 = 0;
};

/* Starts the services for a test (ASF_Call code 0 with words, one
** protocol entry written to prot, an area of ASF_PROT_ENTRY_SIZE bytes).
** The call's result; the status is in *ctl. */
inline int call_init(char *prot, asfsvcctl *ctl, InitWords words = {}) {
  *ctl = fresh_ctl();
  asfsvcreq req {};
  ASF_Init(asf_svc_init, &req);
  req.word[1] = words.options;
  req.word[4] = words.word4;
  req.word[6] = words.word6;
  req.word[7] = 1;
  req.word[8] = reinterpret_cast<uintptr_t>(prot);
  return ASF_Call(ctl, &req);
}

/* Client connect parameters as the end-to-end tests start them, as the
** runtime fills them: program "sqlexec", a client version and
** identification, level and version -1 (the server entry's). */
inline void default_parms(ascbinreq *parms) {
  static char version[] = "9.250";
  static char clientid[] = "dvz-test";
  std::strcpy(parms->progname, "sqlexec");
  parms->version = version;
  parms->clientid = clientid;
  parms->pairs.level = -1;
  parms->pairs.version = -1;
}

/* Ends the services (ASF_Call code 20). The call's result; the status is
** in *ctl. */
inline int call_term(asfsvcctl *ctl) {
  *ctl = fresh_ctl();
  asfsvcreq req {};
  ASF_Init(asf_svc_term, &req);
  return ASF_Call(ctl, &req);
}

/* n bytes of a repeating letter pattern, step letters apart. */
inline std::string pattern(size_t n, int step = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>('a' + (i * static_cast<size_t>(step)) % 26);
  return s;
}

/* Sends bytes through the association's send buffer, piece by piece;
** a buffer larger than max_piece (when not 0) is a failure. */
inline void call_send(void *assoc, const std::string &bytes, int32_t max_piece = 0) {
  size_t done = 0;
  while (done < bytes.size()) {
    asfsvcctl ctl = fresh_ctl(assoc);
    asfsvcreq req {};
    ASF_Init(asf_svc_sendbuf, &req);
    ASSERT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
    auto *buf = reinterpret_cast<rscbufctl *>(req.word[2]);
    ASSERT_NE(buf, nullptr);
    ASSERT_GT(buf->size, 0);
    if (max_piece > 0) {
      ASSERT_LE(buf->size, max_piece);
    }
    size_t n = std::min(bytes.size() - done, static_cast<size_t>(buf->size));
    std::memcpy(buf->p, bytes.data() + done, n);
    buf->size = static_cast<int32_t>(n);
    ASF_Init(asf_svc_send, &req);
    asf_req_set_half(&req, 2, -1);
    req.word[3] = reinterpret_cast<uintptr_t>(buf);
    ASSERT_EQ(ASF_Call(&ctl, &req), 0) << ctl.asfcode;
    done += n;
  }
}

/* Receives until n bytes came, each buffer handed out (type -1) and given
** back; a buffer larger than max_piece (when not 0) is a failure. */
inline std::string call_receive(void *assoc, size_t n, int32_t max_piece = 0) {
  std::string got;
  while (got.size() < n) {
    asfsvcctl ctl = fresh_ctl(assoc, 5000);
    asfsvcreq req {};
    ASF_Init(asf_svc_receive, &req);
    if (ASF_Call(&ctl, &req) != 0) {
      ADD_FAILURE() << "receive: " << ctl.asfcode << " " << ctl.oserr;
      break;
    }
    EXPECT_EQ(asf_req_half(&req, 2), -1);
    auto *buf = reinterpret_cast<rscbufctl *>(req.word[3]);
    EXPECT_EQ(buf->type, -1);
    if (max_piece > 0) {
      EXPECT_LE(buf->size, max_piece);
    }
    got.append(buf->p, static_cast<size_t>(buf->size));
    asfsvcreq rel {};
    ASF_Init(asf_svc_recvbuf_free, &rel);
    rel.word[2] = reinterpret_cast<uintptr_t>(buf);
    asfsvcctl rctl = fresh_ctl(assoc);
    EXPECT_EQ(ASF_Call(&rctl, &rel), 0);
  }
  return got;
}

}  // namespace asf_test

#endif
