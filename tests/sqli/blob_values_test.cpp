/*
** BYTE and TEXT values on the wire against the SQLI server double over
** loopback TCP: values sent from every kind of locator and from file host
** variables (chunk sizes and bytes, the abandon code and its errors),
** values received into locators and files through FETCH with a
** descriptor, SELECT ... INTO and the array fetch (NULL, empty, too small,
** failed writes that leave the reply in step), and TEXT converted in
** chunks compared with glibc's iconv of the whole text. Files live in a
** temporary directory under the build tree; /dev/full fails the writes.
*/
#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asf_test_support.h"
#include "conversion_fixture.h"
#include "current_connection.h"
#include "double_server.h"
#include "runtime_session.h"
#include "sqli_blob.h"
#include "sqli_cursor.h"
#include "sqli_errors.h"
#include "sqli_globals.h"
#include "sqli_send.h"
#include "sqli_statement.h"
#include "sqli_status.h"
#include "temp_dir.h"
#include "wire_codec.h"

namespace {

using sqli_test::DoubleServer;

constexpr int byte_type = 11;
constexpr int text_type = 12;
constexpr int locator_host = 113;
constexpr int file_host = 116;
const char *const insert_text = "INSERT INTO docs VALUES (?)";

/* Bytes 0..255 repeated to n. */
std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(i * 7 % 251);
  return s;
}

std::string to_hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

/* glibc's conversion of a whole text: the peer. */
std::string glibc_iconv(const char *to, const char *from, const std::string &in) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(in.size() * 4 + 4, '\0');
  char *ip = const_cast<char *>(in.data());
  char *op = out.data();
  size_t inleft = in.size(), outleft = out.size();
  EXPECT_NE(iconv(cd, &ip, &inleft, &op, &outleft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outleft);
  return out;
}

/* A memory locator whose buffer the runtime allocates, freed with it. */
struct RuntimeLoc {
  loc_t loc {};
  RuntimeLoc() {
    loc.kind = loc_in_memory;
    loc.u.mem.buffer_size = -1;
    loc.sql_type = byte_type;
  }
  ~RuntimeLoc() {
    if ((loc.u.mem.memory_flags & 1) != 0) std::free(loc.u.mem.buffer);
  }
  RuntimeLoc(const RuntimeLoc &) = delete;
  RuntimeLoc &operator=(const RuntimeLoc &) = delete;
  char *data() { return reinterpret_cast<char *>(&loc); }
};
static_assert(sizeof(RuntimeLoc) == sizeof(loc_t), "an array of them is an array of loc_t");

/* A program's own locator functions over a string, failing on demand. */
struct UserBlob {
  std::string data;
  size_t at = 0;
  int open_result = 0;
  int close_result = 0;
  int fail_read_at = -1; /* the call number (from 0) that fails with -5 */
  int fail_write_at = -1;
  int calls = 0;
};

int user_open(loc_t *loc, int, int) {
  auto *u = reinterpret_cast<UserBlob *>(loc->user_data);
  u->at = 0;
  u->calls = 0;
  return u->open_result;
}
int user_close(loc_t *loc) { return reinterpret_cast<UserBlob *>(loc->user_data)->close_result; }
int user_read(loc_t *loc, char *buffer, int count) {
  auto *u = reinterpret_cast<UserBlob *>(loc->user_data);
  if (u->calls++ == u->fail_read_at) return -5;
  const size_t n = std::min(static_cast<size_t>(count), u->data.size() - u->at);
  std::memcpy(buffer, u->data.data() + u->at, n);
  u->at += n;
  return static_cast<int>(n);
}
int user_write(loc_t *loc, char *buffer, int count) {
  auto *u = reinterpret_cast<UserBlob *>(loc->user_data);
  if (u->calls++ == u->fail_write_at) return -6;
  u->data.append(buffer, static_cast<size_t>(count));
  return count;
}

class BlobValues : public sqli_test::RuntimeSessionTest {
 protected:
  void TearDown() override {
    FetArrSize = 0;
    RuntimeSessionTest::TearDown();
  }
  loc_t memory(const std::string &value, int type = byte_type) {
    loc_t loc {};
    loc.kind = loc_in_memory;
    loc.u.mem.buffer_size = static_cast<int32_t>(value.size());
    loc.u.mem.buffer = const_cast<char *>(value.data());
    loc.size = static_cast<int32_t>(value.size());
    loc.sql_type = type;
    return loc;
  }
  loc_t named(const std::string &path) {
    names_.push_back(path);
    loc_t loc {};
    loc.kind = loc_in_file;
    loc.u.file.file_name = names_.back().data();
    loc.u.file.file_fd = -1;
    loc.size = -1;
    loc.sql_type = byte_type;
    return loc;
  }
  loc_t user(UserBlob &u) {
    loc_t loc {};
    loc.kind = loc_in_user;
    loc.user_data = reinterpret_cast<char *>(&u);
    loc.size = -1;
    loc.sql_type = byte_type;
    loc.open_fn = user_open;
    loc.close_fn = user_close;
    loc.read_fn = user_read;
    loc.write_fn = user_write;
    return loc;
  }
  /* Runs the INSERT with one host variable of type host at data. */
  int insert(int host, char *data, int len = 0) {
    sqlvar_struct in {};
    in.sqltype = static_cast<int16_t>(host);
    in.sqllen = len;
    in.sqldata = data;
    sqli_stmtrec rec {};
    const char *pieces[] = {insert_text, nullptr};
    return sqli_stmt(1, &rec, pieces, 1, &in, nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
  }
  /* The chunk lengths the double journaled, and its stored values. */
  static std::vector<long> chunk_lengths(const DoubleServer &d) {
    std::vector<long> out;
    for (const auto &e : d.messages(39))
      out.push_back(e.number("length"));
    return out;
  }
  static std::vector<testbed::SqliJournalEntry> stored(const DoubleServer &d) {
    return d.entries("blob");
  }

  dvz_test::TempDir dir_;

 private:
  std::vector<std::string> names_;
};

std::string insert_rule() {
  return std::string(R"({"rules": [{"text": ")") + insert_text +
         R"(", "reply": [{"kind": "describe", "stmt_type": 6, "stmt_id": 3},
             {"kind": "done", "rows": 1}, {"kind": "end"}]}]})";
}

/* ---- Sending ----------------------------------------------------------------------------- */

TEST_F(BlobValues, ValuesGoAsChunksOfAtMost1024EndedByAnEmptyOne) {
  struct Case {
    size_t size;
    std::vector<long> chunks;
  };
  const Case cases[] = {{1500, {1024, 476, 0}}, {3, {3, 0}}, {0, {0}}, {2048, {1024, 1024, 0}}};
  for (const Case &c : cases) {
    SCOPED_TRACE("value of " + std::to_string(c.size));
    DoubleServer d({}, insert_rule());
    connect(d);
    ASSERT_EQ(SQLCODE, 0) << sqlca.sqlerrm;
    const std::string value = pattern(c.size);
    loc_t loc = memory(value);
    ASSERT_EQ(insert(locator_host, reinterpret_cast<char *>(&loc)), 0) << sqlca.sqlerrm;
    EXPECT_EQ(chunk_lengths(d), c.chunks);
    const auto values41 = d.messages(41);
    ASSERT_EQ(values41.size(), 1u);
    EXPECT_EQ(values41[0].number("count"), 1);
    const auto kept = stored(d);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].get("data"), to_hex(value));
    EXPECT_EQ(loc.size, static_cast<int32_t>(c.size)) << "transferred becomes the size";
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

/* The transport sees the chunks begin in a fresh buffer and a flush after
** each full chunk: the first buffer ends with the request before them,
** the second with the first chunk. */
TEST_F(BlobValues, ChunksBeginInAFreshBufferAndFullOnesAreFlushed) {
  _sqclrca(tcb);
  sqli_test::CurrentConnection s(tcb, 0);
  sqli_put16(s.t.conn.io, 4); /* a request already begun */
  sqli_put16(s.t.conn.io, 7);
  const std::string value = pattern(1500);
  loc_t loc = memory(value);
  ASSERT_EQ(_sqs_b(&loc, tcb), 0) << sqlca.sqlerrm;
  ASSERT_EQ(_iflushbuff(s.t.conn.io), 0);
  const auto &sent = s.fake.sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sqli_test::hex(sent[0]), "00040007");
  EXPECT_EQ(sqli_test::hex(sent[1]), "00270400" + to_hex(value.substr(0, 1024)));
  EXPECT_EQ(sqli_test::hex(sent[2]), "002701dc" + to_hex(value.substr(1024)) + "00270000");
}

TEST_F(BlobValues, ThreeByteValueHasItsPadAndTheEmptyChunk) {
  DoubleServer d({}, insert_rule());
  connect(d);
  const std::string value = "xyz";
  loc_t loc = memory(value);
  ASSERT_EQ(insert(locator_host, reinterpret_cast<char *>(&loc)), 0) << sqlca.sqlerrm;
  std::string raw;
  for (const auto &e : d.messages(39))
    raw += e.get("raw");
  EXPECT_EQ(raw, "00270003" + to_hex(value) + "00" + "00270000");
}

TEST_F(BlobValues, FilesAndEveryLocatorKindSendTheirBytes) {
  DoubleServer d({}, insert_rule());
  connect(d);
  const std::string content = pattern(3000);
  const std::string path = dir_.write("source.bin", content);
  /* A file host variable, by terminated name and by length (blanks cut). */
  std::string plain = path;
  std::string padded = path + "   ";
  ASSERT_EQ(insert(file_host, plain.data()), 0) << sqlca.sqlerrm;
  ASSERT_EQ(insert(file_host, padded.data(), static_cast<int>(padded.size())), 0) << sqlca.sqlerrm;
  /* Named file, whole file over a size that says otherwise. */
  loc_t file = named(path);
  file.size = 10;
  file.open_flags = 0x10;
  ASSERT_EQ(insert(locator_host, reinterpret_cast<char *>(&file)), 0) << sqlca.sqlerrm;
  /* The program's descriptor. */
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  loc_t desc {};
  desc.kind = loc_in_fd;
  desc.u.file.file_fd = fd;
  desc.size = 100;
  ASSERT_EQ(insert(locator_host, reinterpret_cast<char *>(&desc)), 0) << sqlca.sqlerrm;
  close(fd);
  /* The program's functions. */
  UserBlob u;
  u.data = "through the program";
  loc_t fn = user(u);
  ASSERT_EQ(insert(locator_host, reinterpret_cast<char *>(&fn)), 0) << sqlca.sqlerrm;
  const auto kept = stored(d);
  ASSERT_EQ(kept.size(), 5u);
  const std::string sha = kept[0].get("sha256");
  EXPECT_FALSE(sha.empty());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(kept[i].get("sha256"), sha) << i;
  EXPECT_EQ(kept[3].get("data"), to_hex(content.substr(0, 100)));
  EXPECT_EQ(kept[4].get("data"), to_hex(u.data));
}

TEST_F(BlobValues, FailuresAbandonTheValueWithCode40) {
  const std::string long_name(261, 'n');
  struct Case {
    const char *what;
    int error;
    long second_word;
  };
  const Case cases[] = {{"261-byte file name", SQLI_E_NOFILE, 0},
                        {"missing file", SQLI_E_NOFILE, 0},
                        {"read failing mid-value", SQLI_E_LOCREAD, -5},
                        {"program's open failing", SQLI_E_LOCOPEN, -7},
                        {"program's close failing", SQLI_E_LOCCLOSE, -8},
                        {"locator of kind 9", SQLI_E_LOCKIND, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DoubleServer d({}, insert_rule());
    connect(d);
    UserBlob u;
    u.data = pattern(3000);
    loc_t fn = user(u);
    const std::string what = c.what;
    int rc;
    if (what == "261-byte file name") {
      rc = insert(file_host, const_cast<char *>(long_name.data()),
                  static_cast<int>(long_name.size()));
    } else if (what == "missing file") {
      const std::string absent = dir_.file("absent");
      rc = insert(file_host, const_cast<char *>(absent.c_str()));
    } else {
      if (what == "read failing mid-value") u.fail_read_at = 1;
      if (what == "program's open failing") u.open_result = -7;
      if (what == "program's close failing") u.close_result = -8;
      if (what == "locator of kind 9") fn.kind = 9;
      rc = insert(locator_host, reinterpret_cast<char *>(&fn));
    }
    EXPECT_EQ(rc, c.error);
    EXPECT_EQ(SQLCODE, c.error);
    if (c.second_word != 0) {
      EXPECT_EQ(sqlca.sqlerrd[1], c.second_word);
    }
    EXPECT_EQ(d.messages(40).size(), 1u) << "abandoned";
    const auto kept = stored(d);
    if (what == "program's close failing") {
      /* The value went whole; the failed close still abandons it. */
      ASSERT_EQ(kept.size(), 2u);
      EXPECT_EQ(kept[1].get("abandoned"), "1");
    } else {
      ASSERT_EQ(kept.size(), 1u);
      EXPECT_EQ(kept[0].get("abandoned"), "1");
    }
    /* The connection stays in step: a statement after it works. */
    const std::string two = "ok";
    loc_t ok = memory(two);
    EXPECT_EQ(insert(locator_host, reinterpret_cast<char *>(&ok)), 0) << sqlca.sqlerrm;
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(BlobValues, NullLocatorsAndFilesAreNotSent) {
  DoubleServer d({}, insert_rule());
  connect(d);
  loc_t loc = memory("abc");
  loc.indicator = -1;
  ASSERT_EQ(insert(locator_host, reinterpret_cast<char *>(&loc)), 0) << sqlca.sqlerrm;
  EXPECT_TRUE(d.messages(41).empty());
  EXPECT_TRUE(d.messages(39).empty());
}

/* TEXT from a locator is converted to the database's code set chunk by
** chunk, characters cut at the 1024-byte boundaries included. */
TEST_F(BlobValues, SentTextIsConvertedAcrossChunkBoundariesAsGlibcDoes) {
  std::string utf8 = "a";
  for (int i = 0; i < 1500; ++i)
    utf8 += i % 2 == 0 ? "\xC3\xA9" : "\xC3\xBC";
  DoubleServer d({}, insert_rule());
  connect(d);
  /* After the connect, which sets the environment's converters. */
  oslib_test::Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  oslib_test::EnvironmentConverter env {&new_gls_env::cv_client_db, cv.get()};
  loc_t loc = memory(utf8, text_type);
  ASSERT_EQ(insert(locator_host, reinterpret_cast<char *>(&loc)), 0) << sqlca.sqlerrm;
  const auto kept = stored(d);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].get("data"), to_hex(glibc_iconv("ISO-8859-1", "UTF-8", utf8)));
  /* Ending inside a character: abandoned, never a spin. */
  const std::string cut = "abc\xC3";
  loc_t bad = memory(cut, text_type);
  EXPECT_EQ(insert(locator_host, reinterpret_cast<char *>(&bad)), SQLI_E_LOCREAD);
  EXPECT_EQ(d.messages(40).size(), 1u);
}

/* ---- Receiving -------------------------------------------------------------------------- */

/* A table docs (id INTEGER, b BYTE) whose rows name the scenario's blobs
** 1.. (by {"id", "size"}, or null); chunks of chunk bytes. */
std::string docs(const std::vector<std::string> &values, int chunk = 1024,
                 const std::string &column_type = "11") {
  std::string blobs, rows;
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string id = std::to_string(i + 1);
    if (!rows.empty()) rows += ", ";
    if (values[i] == "NULL") {
      rows += "[" + id + ", null]";
      continue;
    }
    if (!blobs.empty()) blobs += ", ";
    blobs += "\"" + id + "\": {\"hex\": \"" + to_hex(values[i]) + "\"}";
    rows +=
        "[" + id + ", {\"id\": " + id + ", \"size\": " + std::to_string(values[i].size()) + "}]";
  }
  return R"({"blob_chunk": )" + std::to_string(chunk) + R"(, "blobs": {)" + blobs +
         R"(}, "tables": {"docs": {"columns": [{"name": "id", "type": 2, "length": 4},
         {"name": "b", "type": )" +
         column_type + R"(, "length": 56}], "rows": [)" + rows + "]}}}";
}

class Received : public BlobValues {
 protected:
  /* Opens a cursor over docs and fetches one row into (id, locator or
  ** file host). */
  void open_docs() {
    h_ = declare("c1", "SELECT id, b FROM docs");
    ASSERT_EQ(sqli_curs_open(1, h_, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlerrm;
  }
  /* ids: the id host's array in an array fetch (else id_). */
  int fetch(int host, char *data, int len = 0, int16_t *ind = nullptr, int32_t *ids = nullptr) {
    vars_[0] = {};
    vars_[0].sqltype = 102;
    vars_[0].sqllen = 4;
    vars_[0].sqldata = reinterpret_cast<char *>(ids != nullptr ? ids : &id_);
    vars_[1] = {};
    vars_[1].sqltype = static_cast<int16_t>(host);
    vars_[1].sqllen = len;
    vars_[1].sqldata = data;
    vars_[1].sqlind = ind;
    sqlda out {};
    out.sqld = 2;
    out.sqlvar = vars_;
    sqli_fetchspec next {0, 1, 0};
    return sqli_curs_fetch(1, h_, nullptr, &out, nullptr, &next);
  }
  /* A double serving values as docs, connected, with its cursor open for
  ** array fetches of 3 rows (capabilities of the modern profile). */
  std::unique_ptr<DoubleServer> array_docs(const std::vector<std::string> &values) {
    auto d =
        std::make_unique<DoubleServer>(std::vector<std::string> {"--profile", "modern"},
                                       docs(values, 500).insert(1, R"("capabilities": 65213, )"));
    connect(*d);
    FetArrSize = 3;
    open_docs();
    return d;
  }
  /* The requests [4 id][38 desc][12] the double journaled: their 38s. */
  static size_t value_requests(const DoubleServer &d) { return d.messages(38).size(); }

  void *h_ = nullptr;
  int32_t id_ = 0;
  sqlvar_struct vars_[2] = {};
};

TEST_F(Received, ValuesArriveWholeInEveryDestination) {
  const std::string big = pattern(2500);
  DoubleServer d({}, docs({big, "", "NULL", big}, 1000));
  connect(d);
  open_docs();
  /* The runtime's memory, by a descriptor's BYTE entry. */
  RuntimeLoc mem_owner;
  loc_t &mem = mem_owner.loc;
  ASSERT_EQ(fetch(byte_type, reinterpret_cast<char *>(&mem)), 0) << sqlca.sqlerrm;
  ASSERT_EQ(mem.size, 2500);
  EXPECT_EQ(std::string(mem.u.mem.buffer, 2500), big);
  EXPECT_EQ(mem.indicator, 0);
  /* The request: statement id, the descriptor, the end. */
  const auto asks = d.messages(38);
  ASSERT_EQ(asks.size(), 1u);
  const auto all = d.entries("sqli");
  for (size_t i = 1; i + 1 < all.size(); ++i)
    if (all[i].get("code") == "38") {
      EXPECT_EQ(all[i - 1].get("code"), "4");
      EXPECT_EQ(all[i + 1].get("code"), "12");
    }
  EXPECT_EQ(chunk_lengths(d), std::vector<long>()) << "the client sends no chunks";
  /* An empty non-NULL value into a runtime buffer: no buffer. */
  RuntimeLoc empty_owner;
  loc_t &empty = empty_owner.loc;
  ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&empty)), 0) << sqlca.sqlerrm;
  EXPECT_EQ(empty.u.mem.buffer, nullptr);
  EXPECT_EQ(empty.u.mem.buffer_size, 0);
  EXPECT_EQ(empty.size, 0);
  /* NULL into a named file: an empty file and indicator -1. */
  const std::string path = dir_.write("null.bin", "old contents");
  loc_t file = named(path);
  int16_t ind = 0;
  ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&file), 0, &ind), 0) << sqlca.sqlerrm;
  EXPECT_EQ(ind, -1);
  EXPECT_EQ(file.indicator, -1);
  EXPECT_EQ(dvz_test::read_file(path), "");
  EXPECT_EQ(value_requests(d), 2u) << "a NULL value is not asked for";
  /* A file host variable. */
  const std::string out = dir_.file("out.bin");
  ASSERT_EQ(fetch(file_host, const_cast<char *>(out.c_str())), 0) << sqlca.sqlerrm;
  EXPECT_EQ(dvz_test::read_file(out), big);
}

TEST_F(Received, TooSmallProgramBufferGives451WithTheSizeNeeded) {
  DoubleServer d({}, docs({pattern(100), "ab"}));
  connect(d);
  open_docs();
  std::vector<char> small(10);
  loc_t loc {};
  loc.kind = loc_in_memory;
  loc.u.mem.buffer_size = 10;
  loc.u.mem.buffer = small.data();
  EXPECT_EQ(fetch(locator_host, reinterpret_cast<char *>(&loc)), SQLI_E_LOCSIZE);
  EXPECT_EQ(loc.indicator, 100);
  EXPECT_EQ(value_requests(d), 0u) << "refused before asking";
  /* The failed row is delivered again, then the next, in step. */
  RuntimeLoc next_owner;
  loc_t &next = next_owner.loc;
  ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&next)), 0) << sqlca.sqlerrm;
  EXPECT_EQ(next.size, 100);
  ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&next)), 0) << sqlca.sqlerrm;
  EXPECT_EQ(std::string(next.u.mem.buffer, 2), "ab");
}

/* A server sending more than its descriptor said: the program's buffer
** is never written past (ASan), the value is cut (indicator 1) and the
** reply read to its end. */
TEST_F(Received, AValueLongerThanItsDescriptorIsCutAtTheBuffer) {
  DoubleServer d({}, R"({"blobs": {"1": {"size": 20, "fill": "x"}, "2": {"text": "ab"}},
      "tables": {"docs": {"columns": [{"name": "id", "type": 2, "length": 4},
      {"name": "b", "type": 11, "length": 56}],
      "rows": [[1, {"id": 1, "size": 10}], [2, {"id": 2, "size": 2}]]}}})");
  connect(d);
  open_docs();
  std::vector<char> exact(10, '.');
  loc_t loc {};
  loc.kind = loc_in_memory;
  loc.u.mem.buffer_size = 10;
  loc.u.mem.buffer = exact.data();
  int16_t ind = 0;
  EXPECT_EQ(fetch(locator_host, reinterpret_cast<char *>(&loc), 0, &ind), 0) << sqlca.sqlerrm;
  EXPECT_EQ(ind, 1);
  EXPECT_EQ(std::string(exact.data(), 10), "..........") << "the cut chunk is not written";
  ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&loc), 0, &ind), 0) << sqlca.sqlerrm;
  EXPECT_EQ(id_, 2);
  EXPECT_EQ(std::string(exact.data(), 2), "ab");
}

TEST_F(Received, FailedWritesSkipTheRestOfTheValueAndStayInStep) {
  const std::string big = pattern(5000);
  struct Case {
    const char *what;
    int error;
  };
  const Case cases[] = {{"/dev/full", SQLI_E_FILEWRITE},
                        {"program's write", SQLI_E_LOCWRITE},
                        {"file host on /dev/full", SQLI_E_FILEWRITE}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DoubleServer d({}, docs({big, "after"}, 700));
    connect(d);
    open_docs();
    const int before = asf_test::fd_count();
    const std::string what = c.what;
    UserBlob u;
    u.fail_write_at = 2;
    loc_t loc = what == "/dev/full" ? named("/dev/full") : user(u);
    const int rc = what == "file host on /dev/full"
                       ? fetch(file_host, const_cast<char *>("/dev/full"))
                       : fetch(locator_host, reinterpret_cast<char *>(&loc));
    EXPECT_EQ(rc, c.error);
    EXPECT_EQ(asf_test::fd_count(), before) << "the file is closed";
    /* The reply was read to its end: the same row again, then the next. */
    RuntimeLoc next_owner;
    loc_t &next = next_owner.loc;
    ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&next)), 0) << sqlca.sqlerrm;
    EXPECT_EQ(id_, 1);
    EXPECT_EQ(std::string(next.u.mem.buffer, 5000), big);
    ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&next)), 0) << sqlca.sqlerrm;
    EXPECT_EQ(std::string(next.u.mem.buffer, 5), "after");
    EXPECT_EQ(id_, 2);
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

/* Received TEXT converted chunk by chunk, characters cut at every chunk
** size, matches glibc's conversion of the whole text; a value that grows
** fits the runtime's buffer, sized for the expansion. */
TEST_F(Received, TextSplitAcrossChunksMatchesGlibc) {
  oslib_test::Utf8ToLatin1 narrowing;
  oslib_test::Latin1ToUtf8 widening;
  ASSERT_NE(narrowing.get(), nullptr);
  ASSERT_NE(widening.get(), nullptr);
  std::string utf8;
  for (int i = 0; i < 900; ++i)
    utf8 += i % 3 == 0 ? "\xC3\xA9" : (i % 3 == 1 ? "b" : "\xC3\x9F");
  const std::string latin1(600, '\xE9');
  struct Case {
    bool widen;
    int chunk;
  };
  const Case cases[] = {{false, 1}, {false, 3}, {false, 333}, {false, 1024}, {true, 1024}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.widen ? "8859-1 to UTF-8" : "UTF-8 to 8859-1") + ", chunk " +
                 std::to_string(c.chunk));
    const std::string &text = c.widen ? latin1 : utf8;
    DoubleServer d({}, docs({text}, c.chunk, "12"));
    connect(d);
    oslib_test::EnvironmentConverter env {&new_gls_env::cv_db_client,
                                          c.widen ? widening.get() : narrowing.get()};
    open_docs();
    RuntimeLoc loc_owner;
    loc_t &loc = loc_owner.loc;
    loc.sql_type = text_type;
    ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(&loc)), 0) << sqlca.sqlerrm;
    const std::string want = c.widen ? glibc_iconv("UTF-8", "ISO-8859-1", text)
                                     : glibc_iconv("ISO-8859-1", "UTF-8", text);
    ASSERT_EQ(loc.size, static_cast<int32_t>(want.size()));
    EXPECT_EQ(std::string(loc.u.mem.buffer, want.size()), want);
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

TEST_F(Received, SelectIntoALocatorTakesTheReceivingPath) {
  const std::string value = pattern(1500);
  DoubleServer d({}, docs({value}));
  connect(d);
  RuntimeLoc loc_owner;
  loc_t &loc = loc_owner.loc;
  int32_t id = 0;
  sqlvar_struct out[2] = {};
  out[0].sqltype = 102;
  out[0].sqllen = 4;
  out[0].sqldata = reinterpret_cast<char *>(&id);
  out[1].sqltype = locator_host;
  out[1].sqldata = reinterpret_cast<char *>(&loc);
  sqli_cursor rec {};
  const char *pieces[] = {"SELECT id, b FROM docs", nullptr};
  ASSERT_EQ(
      sqli_slct(1, &rec, pieces, 0, nullptr, 2, out, 0, nullptr, nullptr, nullptr, nullptr, 0), 0)
      << sqlca.sqlerrm;
  EXPECT_EQ(id, 1);
  ASSERT_EQ(loc.size, 1500);
  EXPECT_EQ(std::string(loc.u.mem.buffer, 1500), value);
}

/* Protocol faults inside a value drop the connection instead of reading
** out of step. */
TEST_F(Received, MalformedChunkStreamsAreProtocolErrors) {
  struct Case {
    const char *what;
    const char *script;
  };
  const Case cases[] = {{"negative length", R"({"kind": "raw", "hex": "0027ffff"})"},
                        {"another code", R"({"kind": "raw", "hex": "004d"})"},
                        {"server error", R"({"kind": "error", "code": -100}, {"kind": "end"})"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string scenario = docs({"abc"});
    std::string with_rule = scenario.substr(0, scenario.size() - 1) +
                            R"(, "rules": [{"code": 38, "reply": [)" + std::string(c.script) +
                            "]}]}";
    DoubleServer d({}, with_rule);
    connect(d);
    open_docs();
    RuntimeLoc loc_owner;
    loc_t &loc = loc_owner.loc;
    EXPECT_LT(fetch(locator_host, reinterpret_cast<char *>(&loc)), 0);
    if (std::string(c.what) == "server error")
      EXPECT_EQ(SQLCODE, -100);
    else
      EXPECT_EQ(tcb->curconn, nullptr) << "connection dropped";
    sqli_connect_close(SQLI_DISCONNECT_ALL, nullptr, SQLI_END_ABORT, 0);
  }
}

/* ---- Array fetch ------------------------------------------------------------------------ */

TEST_F(Received, ArrayFetchAsksForEveryValueInOneRequest) {
  const std::vector<std::string> values = {pattern(1200), "NULL", "abc"};
  const auto d = array_docs(values);
  int32_t ids[3] = {};
  RuntimeLoc owners[3];
  loc_t *locs = &owners[0].loc;
  int16_t inds[3] = {5, 5, 5};
  ASSERT_EQ(fetch(locator_host, reinterpret_cast<char *>(locs), sizeof(loc_t), inds, ids), 0)
      << sqlca.sqlerrm;
  EXPECT_EQ(sqlca.sqlerrd[2], 3);
  EXPECT_EQ(ids[2], 3);
  EXPECT_EQ(std::string(locs[0].u.mem.buffer, 1200), values[0]);
  EXPECT_EQ(std::string(locs[2].u.mem.buffer, 3), "abc");
  EXPECT_EQ(inds[0], 0);
  EXPECT_EQ(inds[1], -1);
  EXPECT_EQ(inds[2], 0);
  EXPECT_EQ(vars_[1].sqldata, reinterpret_cast<char *>(locs)) << "pointers where they were";
  EXPECT_EQ(vars_[1].sqlind, inds);
  /* One 92 with the count of non-NULL values, 4 id, a 38 per value. */
  const auto arrays = d->messages(92);
  ASSERT_EQ(arrays.size(), 1u);
  EXPECT_EQ(arrays[0].number("count"), 2);
  EXPECT_EQ(d->messages(38).size(), 2u);
}

TEST_F(Received, ArrayFetchWriteFailureSkipsTheOutstandingValues) {
  const std::vector<std::string> values = {"first", pattern(3000), pattern(2000)};
  const auto d = array_docs(values);
  int32_t ids[3] = {};
  RuntimeLoc owners[3];
  loc_t *locs = &owners[0].loc;
  locs[1] = named("/dev/full");
  EXPECT_EQ(fetch(locator_host, reinterpret_cast<char *>(locs), sizeof(loc_t), nullptr, ids),
            SQLI_E_FILEWRITE);
  EXPECT_EQ(std::string(locs[0].u.mem.buffer, 5), "first");
  /* In step: the cursor closes with its own reply. */
  EXPECT_EQ(sqli_curs_close(1, h_), 0) << sqlca.sqlerrm;
  EXPECT_NE(tcb->curconn, nullptr);
}

TEST_F(Received, ArrayFetchRefusesFileHostsBeforeAskingForValues) {
  const auto d = array_docs({"abc", "de"});
  int32_t ids[3] = {};
  char name[] = "never-written";
  EXPECT_EQ(fetch(file_host, name, 0, nullptr, ids), -999);
  EXPECT_TRUE(d->messages(92).empty());
  EXPECT_EQ(access(name, F_OK), -1);
}

}  // namespace
