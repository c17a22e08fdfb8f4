/*
** Every number the association layer, the sqlhosts services and
** communication support (its own codes, the module codes and the
** association glue's) raise has
** its text in the shipped catalogs of the build's tree (-406 and -27004
** live in the SQL and network catalogs, owned elsewhere).
*/
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "asc_codec.h"
#include "asf_al.h"
#include "asf_call.h"
#include "asf_css.h"
#include "asf_ns.h"
#include "cm_records.h"
#include "css_records.h"
#include "dvz_csm.h"
#include "os_messages.h"
#include "pf_records.h"
#include "pipe_driver.h"
#include "shm_driver.h"
#include "sl_records.h"
#include "strpipe_driver.h"
#include "tl_records.h"

namespace {

constexpr auto raised = std::to_array<int32_t>({
    ASF_ERR_MEMORY,        ASF_ERR_PROTOCOL,  CM_ERR_NOENTRY,         NS_ERR_DBPATHLEN,
    NS_ERR_SLASHSVR,       TLI_ERR_CONNECT,   NS_ERR_DBNAME,          CM_ERR_NOCWD,
    TCP_ERR_NOHOST,        TCP_ERR_NOSERVICE, PIPE_ERR_CONPKT,        LOGIN_ERR_PASSWORD,
    SHM_ERR_FAULT,         PIPE_ERR_SETUP,    PF_ERR_NOCSS,           ASF_ERR_BADASSOC,
    ASF_ERR_BADCODE,       ASF_ERR_QBUSY,     ASF_ERR_HOSTSOPEN,      ASF_ERR_SVRNAMELEN,
    ASF_ERR_NOSERVER,      ASF_ERR_BADENTRY,  ASF_ERR_COMMON,         NS_ERR_REMOTEDB,
    NS_ERR_DBPATHSVR,      ASF_ERR_NOSVRENV,  ASF_ERR_BADARGS,        ASF_ERR_LISTENCODE,
    CM_ERR_CLOCK,          ASF_ERR_NOBUFFER,  ASF_ERR_DEBUG,          ASC_ERR_OLDREPLY,
    TLI_ERR_BIND,          TLI_ERR_OPEN,      TLI_ERR_CALLALLOC,      TLI_ERR_BINDALLOC,
    TLI_ERR_OUTSTATE,      ASF_ERR_SYSCALL,   TLI_ERR_PEERGONE,       TLI_ERR_TRANSPORT,
    PIPE_ERR_NOTEXEC,      ASF_ERR_WRITE,     ASF_ERR_READ,           SHM_ERR_CONNECT,
    ASF_ERR_NOUSER,        ASF_ERR_BADADDR,   ASF_ERR_UNSUPPORTED,    SHM_ERR_POST,
    SL_ERR_PROTOCOL,       ASF_ERR_ENVSERVER, ASF_ERR_STATE,          SHM_ERR_CONNECTED,
    SL_ERR_NORESPONSE,     ASF_ERR_ARGUMENT,  ASF_ERR_OPTIONS,        TL_STATUS_NO_VECTOR,
    TL_STATUS_NO_PROTOCOL, CSS_ERR_SECONDCSM, CSS_ERR_MEMORY,         CSS_ERR_NOCSM,
    CSS_ERR_LOAD,          CSS_ERR_VERSION,   CSS_ERR_STATUS,         CSS_ERR_DISCONNECTED,
    CSS_ERR_MARKDISC,      CSS_ERR_NOOWNER,   CSS_ERR_NOINIT,         CSS_ERR_NOLIBRARY,
    CSS_ERR_NOSEND,        CSS_ERR_NONAME,    CSS_ERR_NORETURN,       CSS_ERR_PUTBYTES,
    CSS_ERR_NOPUTBYTES,    CSS_ERR_GETBYTES,  CSS_ERR_NOGETBYTES,     CSS_ERR_RETURN,
    CSS_ERR_NOIOVEC,       CSS_ERR_DIRECTION, CSS_ERR_CFGOPEN,        CSS_ERR_PARM,
    CSS_ERR_NOCONTEXT,     CSS_ERR_NOBUFFER,  CSS_ERR_NOBUFOWNER,     CSS_ERR_LOCK,
    CSS_ERR_SYNTAX,        CSS_ERR_DUPLICATE, CSS_ERR_UNDEFINED,      CSS_ERR_NOSTATIC,
    CSS_ERR_PARSE,         CSS_ERR_NAMELESS,  CSS_ERR_SELFMEMBER,     CSS_ERR_INCOMPLETE,
    CSM_ERR_UNKNOWN,       CSM_ERR_INIT,      CSM_ERR_OPTIONS,        CSM_ERR_MEMORY,
    CSM_ERR_HANDSHAKE,     CSM_ERR_MESSAGE,   CSM_ERR_LOGIN,          CSM_ERR_SEQUENCE,
    CSM_ERR_DISCONNECTED,  CSM_ERR_BUFFER,    CSM_ERR_RELEASE,        CSM_ERR_ABORT,
    CSM_ERR_CONFIG,        CSM_ERR_INTERNAL,  ASFCSS_ERR_NOSPEC,      ASFCSS_ERR_EXISTS,
    ASFCSS_ERR_NOCONTEXT,  ASFCSS_ERR_RETRY,  ASFCSS_ERR_DISPOSITION, ASFCSS_ERR_STATE,
});

TEST(CatalogTexts, EveryNumberTheAssociationServicesRaiseHasItsText) {
  for (int32_t number : raised) {
    std::array<char, 512> text {};
    int32_t length = -1;
    EXPECT_EQ(rgetlmsg(number, text.data(), static_cast<int16_t>(text.size()), &length), 0)
        << number;
    EXPECT_GT(length, 0) << number;
  }
  rclosemsg();
}

}  // namespace
