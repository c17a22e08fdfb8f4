/*
** The message-file indexes: which catalog (.iem) holds which numbers. The
** client index is the default; the server index has the same rows with
** the server's leaf names, derived here from the client's. Used by the
** catalog reader (message_catalog.cpp) through rmkmsgleafname; switched
** by gen_resetMessageFindFile.
**
** Rows are looked up by absolute number, first match wins, so the order
** matters where ranges overlap (77300 lies in two) and must be kept.
*/
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "os_gentcb.h"
#include "os_messages.h"

namespace {

constexpr std::array client_index = std::to_array<msg_file_row>({
    {1, 1, 79, "os.iem"},
    {1, 100, 199, "cisam.iem"},
    {1, 200, 999, "csql.iem"},
    {1, 200, 999, "csql.iem"},
    {1, 1000, 1019, "rdsterm.iem"},
    {1, 1100, 1199, "forms.iem"},
    {1, 1200, 1299, "crds.iem"},
    {1, 1300, 1399, "4glusr.iem"},
    {1, 1400, 1499, "id.iem"},
    {1, 1500, 1599, "olserver.iem"},
    {1, 1600, 1799, "olutil.iem"},
    {1, 1800, 1999, "csqli.iem"},
    {1, 2000, 2999, "formbld.iem"},
    {1, 3000, 3999, "perf.iem"},
    {1, 4000, 4999, "4gl.iem"},
    {1, 5000, 5800, "ccsm.iem"},
    {1, 5801, 5824, "csql.iem"},
    {1, 5850, 5999, "csql.iem"},
    {1, 6000, 6999, "all.iem"},
    {1, 7000, 7199, "coptical.iem"},
    {1, 7200, 7212, "nls.iem"},
    {1, 7400, 7999, "cmiapi.iem"},
    {1, 8000, 8199, "ace.iem"},
    {1, 8300, 8499, "csql.iem"},
    {1, 9000, 9199, "ace.iem"},
    {1, 9200, 9299, "csql.iem"},
    {1, 9300, 9399, "csql.iem"},
    {1, 9400, 9499, "csql.iem"},
    {1, 9500, 9599, "ace.iem"},
    {1, 9600, 9999, "csql.iem"},
    {1, 10000, 10999, "cisql.iem"},
    {1, 11000, 11999, "cli.iem"},
    {1, 12000, 12499, "sblob.iem"},
    {1, 12500, 12799, "olserver.iem"},
    {1, 12800, 12999, "ceami.iem"},
    {1, 13000, 13999, "isqlrf.iem"},
    {1, 14200, 14299, "tptk.iem"},
    {1, 14300, 14399, "tptkenc.iem"},
    {1, 14400, 14499, "tptktop.iem"},
    {1, 14500, 14700, "ccss.iem"},
    {1, 15000, 15999, "fihelp.iem"},
    {1, 16000, 16199, "secheck.iem"},
    {1, 16200, 16299, "dbload.iem"},
    {1, 16300, 16499, "fgldb.iem"},
    {1, 16500, 16999, "olmsglog.iem"},
    {1, 17000, 17999, "ised.iem"},
    {1, 18000, 18999, "isedhelp.iem"},
    {1, 19000, 19199, "dbatool.iem"},
    {1, 19200, 19799, "olmsglog.iem"},
    {1, 19800, 19999, "csql.iem"},
    {1, 20000, 20999, "edd.iem"},
    {1, 21000, 21199, "glslib.iem"},
    {1, 21200, 21299, "dbatool.iem"},
    {1, 21300, 21399, "dbupd.iem"},
    {1, 21400, 21449, "csecure.iem"},
    {1, 21450, 21499, "sqlconv.iem"},
    {1, 21500, 21599, "cisam.iem"},
    {1, 21600, 21699, "mkem.iem"},
    {1, 21700, 22199, "olutil.iem"},
    {1, 22200, 22399, "esqlcob.iem"},
    {1, 22400, 22599, "esql.iem"},
    {1, 22600, 22799, "ef77.iem"},
    {1, 22800, 22999, "eada.iem"},
    {1, 23000, 23099, "esqlc.iem"},
    {1, 23100, 23199, "ccals.iem"},
    {1, 23200, 23500, "pload.iem"},
    {1, 23501, 24500, "cxpd.iem"},
    {1, 24501, 24750, "dbr.iem"},
    {1, 24751, 24999, "blademgr.iem"},
    {1, 25000, 25499, "olutil.iem"},
    {1, 25500, 25599, "cnetsrv.iem"},
    {1, 25600, 25699, "cnerm.iem"},
    {1, 25700, 25750, "csql.iem"},
    {1, 27000, 29999, "cnet.iem"},
    {1, 32765, 32766, "os.iem"},
    {1, 30000, 31999, "oem.iem"},
    {1, 32000, 32099, "cisam.iem"},
    {1, 32100, 32199, "cmls.iem"},
    {1, 32200, 32499, "dbacc.iem"},
    {1, 32500, 32699, "cmls2.iem"},
    {1, 32750, 32764, "olutil.iem"},
    {1, 32767, 32999, "olutil.iem"},
    {1, 33000, 33199, "nesql.iem"},
    {1, 33200, 33299, "necc.iem"},
    {1, 33300, 33399, "menukey.iem"},
    {1, 33400, 33499, "cshell.iem"},
    {1, 33500, 33599, "cutil.iem"},
    {1, 33600, 33999, "olutil.iem"},
    {1, 34000, 34999, "cnals.iem"},
    {1, 35000, 35499, "asame.iem"},
    {1, 35500, 35599, "olserver.iem"},
    {1, 36000, 36999, "cxopen.iem"},
    {1, 37000, 37199, "olutil.iem"},
    {1, 37200, 37999, "safe.iem"},
    {1, 38000, 38299, "audit.iem"},
    {1, 38300, 38699, "archive.iem"},
    {1, 39000, 40999, "onutil.iem"},
    {1, 41000, 41099, "inet.iem"},
    {1, 41100, 42100, "tals.iem"},
    {1, 42200, 42299, "minitool.iem"},
    {1, 42300, 42349, "dbatool.iem"},
    {1, 43000, 43399, "onbar.iem"},
    {1, 43400, 43499, "logmode.iem"},
    {1, 43500, 43999, "admin.iem"},
    {1, 47000, 47999, "dbised.iem"},
    {1, 48000, 48999, "dbisedh.iem"},
    {1, 49000, 49099, "mac.iem"},
    {1, 49100, 49299, "pda.iem"},
    {1, 49300, 49799, "pload.iem"},
    {1, 49800, 49899, "c++.iem"},
    {1, 49900, 49999, "olserver.iem"},
    {1, 50000, 50999, "vcl.iem"},
    {1, 51000, 54999, "4glrsrv.iem"},
    {1, 55000, 55199, "appbld.iem"},
    {1, 55200, 55499, "cockpit.iem"},
    {1, 55500, 55899, "id.iem"},
    {1, 55900, 55950, "esqlexe.iem"},
    {1, 56000, 56300, "onperf.iem"},
    {1, 65537, 66560, "xtension.iem"},
    {1, 66561, 71560, "repo.iem"},
    {1, 71561, 72360, "ntol.iem"},
    {1, 72361, 72560, "ntmsm.iem"},
    {1, 72561, 72810, "dvzmngr.iem"},
    {1, 76001, 76800, "ipload.iem"},
    {1, 76801, 77300, "iecc.iem"},
    {1, 77300, 77550, "bladepk.iem"},
    {1, 77600, 77800, "cdr.iem"},
    {1, 77801, 77900, "geodetic.iem"},
    {1, 77901, 78000, "video.iem"},
    {1, 78001, 78999, "dsmapi.iem"},
    {1, 79000, 79499, "cdrcli.iem"},
    {1, 79500, 79699, "dbacc.iem"},
    {1, 79700, 79999, "jdbc.iem"},
    {1, 80000, 80300, "jdbcminor.iem"},
    {1, 80301, 80400, "cdr.iem"},
    {1, 80401, 80600, "onxfer.iem"},
    {1, 80601, 81300, "olmsglog.iem"},
    {1, 81301, 81500, "olutil.iem"},
    {1, 81501, 81600, "cdr.iem"},
    {1, 81601, 81999, "olutil.iem"},
    {1, 82000, 82299, "timeseries.iem"},
    {1, 82300, 82599, "onpladm.iem"},
    {1, 82600, 82699, "cdr.iem"},
    {0, 0, 0, nullptr},
});

/* Client leaf names that keep their leading "c" on the server. */
constexpr std::array<std::string_view, 5> server_keeps_c = {"c++.iem", "cdr.iem", "cdrcli.iem",
                                                            "cli.iem", "cockpit.iem"};

/* The server's name of a client leaf: the leading "c" dropped, except
** for the names that keep it; csecure.iem is security.iem. */
constexpr const char *server_leaf(const char *leaf) {
  if (leaf == nullptr) return nullptr;
  std::string_view name(leaf);
  if (name == "csecure.iem") return "security.iem";
  if (!name.starts_with('c')) return leaf;
  for (std::string_view keep : server_keeps_c) {
    if (name == keep) return leaf;
  }
  return leaf + 1;
}

template <std::size_t... i>
constexpr std::array<msg_file_row, sizeof...(i)> make_server_index(std::index_sequence<i...>) {
  return {{msg_file_row {client_index[i].mark, client_index[i].low, client_index[i].high,
                         server_leaf(client_index[i].leaf)}...}};
}

constexpr auto server_index = make_server_index(std::make_index_sequence<client_index.size()>());

constexpr bool leaves_fit(const auto &index) {
  for (const msg_file_row &row : index) {
    if (row.leaf != nullptr && std::string_view(row.leaf).size() >= MSG_LEAF_SIZE) return false;
  }
  return true;
}
static_assert(leaves_fit(client_index) && leaves_fit(server_index),
              "a leaf name outgrows MSG_LEAF_SIZE");
static_assert(client_index.back().mark == 0, "an index ends with a row of zeros");

constexpr const char default_leaf[] = "os.iem";

}  // namespace

extern "C" {

const msg_file_row *const _cmfdvz = client_index.data();
const msg_file_row *const _smfdvz = server_index.data();
const msg_file_row *_mfdvz = client_index.data();

int rmkmsgleafname(int32_t number, char *name) {
  int64_t wanted = std::llabs(static_cast<int64_t>(number));
  for (const msg_file_row *row = _mfdvz; row->mark != 0; ++row) {
    if (wanted >= row->low && wanted <= row->high) {
      std::strcpy(name, row->leaf);
      return 0;
    }
  }
  std::strcpy(name, default_leaf);
  return -3;
}

int gen_resetMessageFindFile(int which) {
  if (gentcb != nullptr) {
    gentcb->msg_open_name[0] = '\0';
    gentcb->msg_cached_number = 0;
  }
  switch (which) {
    case 's':
      _mfdvz = _smfdvz;
      return 0;
    case 'c':
      _mfdvz = _cmfdvz;
      return 0;
    default:
      return -1;
  }
}

}  // extern "C"
