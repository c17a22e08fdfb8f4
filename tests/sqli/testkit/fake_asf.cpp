/*
** The tests' association layer (fake_asf.h): services 16, 6, 7 and 17
** over heap blocks of exact sizes, with scripted replies and injected
** failures.
*/
#include "fake_asf.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "asf_call.h"
#include "asf_connect_records.h"
#include "os_env.h"

namespace sqli_test {

namespace {
FakeAsf *installed = nullptr;
constexpr int32_t asf_bad_request = -25563;
}  // namespace

FakeAsf::FakeAsf()
    : previous_(sqli_asf),
      table_ {&FakeAsf::call, &FakeAsf::free_nsreg, &FakeAsf::sig_switch},
      calls_(ASF_SVC_MAX + 1, 0) {
  if (installed != nullptr) throw std::logic_error("a FakeAsf is already installed");
  installed = this;
  sqli_asf = &table_;
}

FakeAsf::~FakeAsf() {
  sqli_asf = previous_;
  installed = nullptr;
}

void FakeAsf::script_reply(const Bytes &bytes, std::vector<int> cuts) {
  size_t at = replies_.size();
  const size_t end = at + bytes.size();
  replies_.insert(replies_.end(), bytes.begin(), bytes.end());
  if (cuts.empty()) cuts.push_back(static_cast<int>(bytes.size()));
  size_t k = 0;
  while (at < end) {
    const int cut = cuts[std::min(k++, cuts.size() - 1)];
    at = std::min(end, at + static_cast<size_t>(std::max(cut, 1)));
    cut_points_.push_back(at);
  }
}

void FakeAsf::time_out(int service, int times) {
  for (int i = 0; i < times; ++i)
    injected_.push_back({service, {asf_status_again, 0, ""}});
}

void FakeAsf::fail(int service, int32_t status, int32_t oserr, const std::string &errstr) {
  injected_.push_back({service, {status, oserr, errstr}});
}

void FakeAsf::fail_after(size_t n, int32_t status, int32_t oserr, const std::string &errstr) {
  fail_at_set_ = true;
  fail_at_ = n;
  fail_at_failure_ = {status, oserr, errstr};
}

void FakeAsf::rewind() {
  delivered_ = 0;
  received_.reset();
  sent_.clear();
  timeouts_.clear();
}

Bytes FakeAsf::sent_bytes() const {
  Bytes out;
  for (const Bytes &b : sent_)
    out.insert(out.end(), b.begin(), b.end());
  return out;
}

int FakeAsf::call(asfsvcctl *ctl, asfsvcreq *req) { return installed->serve(ctl, req); }

void FakeAsf::free_nsreg(NSReg *reg) {
  if (reg == nullptr) return;
  for (int i = 0; i < reg->count; ++i) {
    delete[] reg->entry[i].servername;
    delete[] reg->entry[i].dbpath;
    delete[] reg->entry[i].addrtext;
  }
  delete reg;
  --installed->live_registries_;
}

int FakeAsf::sig_switch(int mode) {
  installed->sig_modes_.push_back(mode);
  return 0;
}

namespace {

char *heap_text(const std::string &s) {
  char *out = new char[s.size() + 1];
  std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

std::string text_or_null(const char *s) { return s != nullptr ? std::string(s) : "<null>"; }

void fill_entry(NSEntry *e, const FakeEntry &f, bool heap) {
  std::snprintf(e->product, sizeof e->product, "%s", f.product.c_str());
  if (heap) {
    e->servername = heap_text(f.server);
    e->dbpath = f.dbpath.empty() ? nullptr : heap_text(f.dbpath);
    e->addrtext = heap_text(f.addrtext);
  }
  e->addrkind = f.addrkind;
}

}  // namespace

/* The records of a connect response: the server's parameters and its
** status record, alive until the next connect. */
struct FakeAsf::ResponseRecords {
  ascbinreq params {};
  pfstatus status {};
  std::vector<pfmsgent> msgs;
  std::vector<std::string> texts;
  pfconkind other {};
  pfrequest request {};
};

int FakeAsf::serve_connect(asfsvcctl *ctl, asfsvcreq *req) {
  FakeConnectSeen seen;
  seen.namekind = static_cast<int32_t>(req->word[2]);
  seen.dbenv = text_or_null(reinterpret_cast<const char *>(req->word[3]));
  seen.retries = static_cast<int32_t>(req->word[4]);
  seen.timeout = ctl->timeout;
  if (const auto *p = reinterpret_cast<const ascbinreq *>(req->word[7]); p != nullptr) {
    seen.progname = p->progname;
    seen.version = text_or_null(p->version);
    seen.clientid = text_or_null(p->clientid);
    seen.pfname = text_or_null(p->pfname);
    seen.words = {p->word[0], p->word[1], p->word[2]};
    seen.userkind = p->userkind;
    seen.user = text_or_null(p->user);
    seen.pair_level = p->pairs.level;
    seen.pair_version = p->pairs.version;
  }
  if (const auto *ev = reinterpret_cast<const evlist_t *>(req->word[8]); ev != nullptr)
    for (int i = 0; i < ev->count; ++i)
      if (ev->names[i] != nullptr && std::strcmp(ev->names[i], "DBPATH") == 0)
        seen.dbpath = text_or_null(ev->values[i]);
  if (const auto *r = reinterpret_cast<const pfrequest *>(req->word[9]);
      r != nullptr && r->type == asc_pf_conkind && r->rec != nullptr) {
    const auto *k = static_cast<const pfconkind *>(r->rec);
    seen.kind = k->kind;
    seen.flags = k->flags;
    for (size_t i = 0; i < seen.str.size(); ++i)
      seen.str[i] = text_or_null(k->str[i]);
  }
  seen_.push_back(seen);
  FakeConnectResponse answer;
  if (!connects_.empty()) {
    answer = connects_.front();
    connects_.pop_front();
  }
  if (answer.status != 0 && answer.status != asf_status_rejected)
    return failed(ctl, {answer.status, 0, "scripted connect failure"});
  auto rec = std::make_shared<ResponseRecords>();
  rec->params.word[0] = answer.server_version;
  rec->status.subkind = asc_sub_status;
  rec->status.errnum = answer.errnum;
  rec->status.isamerr = answer.isamerr;
  rec->status.warnbits = answer.warnbits;
  rec->texts.reserve(answer.messages.size());
  for (const auto &[offset, text] : answer.messages) {
    rec->texts.push_back(text);
    rec->msgs.push_back({offset, static_cast<int32_t>(text.size()), rec->texts.back().data()});
  }
  rec->status.count = static_cast<int32_t>(rec->msgs.size());
  rec->status.msgs = rec->msgs.empty() ? nullptr : rec->msgs.data();
  rec->request = answer.form_ok ? pfrequest {asc_pf_status, &rec->status}
                                : pfrequest {asc_pf_conkind, &rec->other};
  response_ = rec;
  const size_t n = seen_.size() - 1;
  void *assoc = &assocs_[std::min(n, assocs_.size() - 1)];
  ctl->ascid = assoc;
  req->word[10] = reinterpret_cast<uintptr_t>(&rec->params);
  req->word[12] = reinterpret_cast<uintptr_t>(&rec->request);
  req->word[13] = reinterpret_cast<uintptr_t>(assoc);
  if (answer.status == asf_status_rejected) {
    ctl->asfcode = asf_status_rejected;
    ctl->oserr = answer.errnum;
    return -1;
  }
  return 0;
}

int FakeAsf::failed(asfsvcctl *ctl, const Failure &f) {
  ctl->asfcode = f.status;
  ctl->oserr = f.oserr;
  std::snprintf(ctl->errstr, sizeof ctl->errstr, "%s", f.errstr.c_str());
  return -1;
}

const FakeAsf::Failure *FakeAsf::next_failure(int service) const {
  for (const auto &[s, f] : injected_)
    if (s == service) return &f;
  return nullptr;
}

bool FakeAsf::inject(int service, asfsvcctl *ctl) {
  for (auto it = injected_.begin(); it != injected_.end(); ++it)
    if (it->first == service) {
      failed(ctl, it->second);
      injected_.erase(it);
      return true;
    }
  return false;
}

std::unique_ptr<FakeAsf::Buffer> FakeAsf::make_buffer(size_t size) {
  auto buffer = std::make_unique<Buffer>();
  buffer->data.reset(new char[std::max<size_t>(size, 1)]);
  buffer->ctl.buff = buffer->ctl.p = buffer->data.get();
  buffer->ctl.lbuff = buffer->ctl.size = static_cast<int32_t>(size);
  buffer->ctl.type = -1;
  return buffer;
}

int FakeAsf::serve(asfsvcctl *ctl, asfsvcreq *req) {
  if (ctl == nullptr || req == nullptr) return -1;
  const auto service = static_cast<int>(req->word[0]);
  if (service < 0 || service > ASF_SVC_MAX) return failed(ctl, {asf_bad_request, 0, ""});
  ++calls_[static_cast<size_t>(service)];
  timeouts_.push_back(ctl->timeout);
  last_req_[static_cast<size_t>(service)] = *req;
  last_assoc_[static_cast<size_t>(service)] = ctl->ascid;
  ctl->asfcode = 0;
  ctl->oserr = 0;
  ctl->errstr[0] = '\0';
  switch (service) {
    case asf_svc_sendbuf:
      if (inject(service, ctl)) return -1;
      if (send_ == nullptr) send_ = make_buffer(static_cast<size_t>(send_size_));
      req->word[2] = reinterpret_cast<uintptr_t>(&send_->ctl);
      return 0;
    case asf_svc_send: {
      if (asf_req_half(req, 2) != -1 || send_ == nullptr ||
          req->word[3] != reinterpret_cast<uintptr_t>(&send_->ctl))
        return failed(ctl, {asf_bad_request, 0, "not the send buffer"});
      rscbufctl &b = send_->ctl;
      const char *end = b.buff + b.lbuff;
      if (b.size < 0 || b.p < b.buff || b.p + b.size > end)
        return failed(ctl, {asf_bad_request, 0, "send length outside the buffer"});
      if (const Failure *f = next_failure(service); f != nullptr && f->status == asf_status_again) {
        const int step = std::min(timeout_progress_, static_cast<int>(b.size));
        if (step > 0) {
          sent_.emplace_back(b.p, b.p + step);
          b.p += step;
          b.size -= step;
        }
      }
      if (inject(service, ctl)) return -1;
      sent_.emplace_back(b.p, b.p + b.size);
      send_.reset();
      return 0;
    }
    case asf_svc_receive: {
      if (asf_req_half(req, 2) != -1) return failed(ctl, {asf_bad_request, 0, "receive argument"});
      if (inject(service, ctl)) return -1;
      received_.reset();
      const size_t stop = fail_at_set_ ? std::min(fail_at_, replies_.size()) : replies_.size();
      if (delivered_ >= stop) {
        if (fail_at_set_) return failed(ctl, fail_at_failure_);
        return failed(ctl, {-25582, 0, "no more replies scripted"});
      }
      size_t end = stop;
      for (size_t cut : cut_points_)
        if (cut > delivered_) {
          end = std::min(end, cut);
          break;
        }
      received_ = make_buffer(end - delivered_);
      std::memcpy(received_->data.get(), replies_.data() + delivered_, end - delivered_);
      delivered_ = end;
      asf_req_set_half(req, 2, -1);
      req->word[3] = reinterpret_cast<uintptr_t>(&received_->ctl);
      return 0;
    }
    case asf_svc_recvbuf_free:
      if (inject(service, ctl)) return -1;
      if (received_ == nullptr || req->word[2] != reinterpret_cast<uintptr_t>(&received_->ctl))
        return failed(ctl, {asf_bad_request, 0, "not the received buffer"});
      received_.reset();
      ++released_;
      return 0;
    case asf_svc_abort: /* the association ends; calls(asf_svc_abort) tells the test */
      return inject(service, ctl) ? -1 : 0;
    case asf_svc_init:
    case asf_svc_resync:
    case asf_svc_release:
    case asf_svc_term:
      return inject(service, ctl) ? -1 : 0;
    case asf_svc_directory: {
      if (inject(service, ctl)) return -1;
      auto reg = std::make_unique<NSReg>();
      reg->count = static_cast<int32_t>(std::min<size_t>(registry_.size(), NS_MAX_ENTRIES));
      for (int i = 0; i < reg->count; ++i)
        fill_entry(&reg->entry[i], registry_[static_cast<size_t>(i)], true);
      ++live_registries_;
      req->word[6] = reinterpret_cast<uintptr_t>(reg.release());
      return 0;
    }
    case asf_svc_connect:
      if (inject(service, ctl)) return -1;
      return serve_connect(ctl, req);
    case asf_svc_attribute: {
      if (inject(service, ctl)) return -1;
      if (req->word[1] != 7) return failed(ctl, {asf_bad_request, 0, "attribute code"});
      entry_record_ = std::make_unique<NSEntry>();
      fill_entry(entry_record_.get(), entry_, false);
      entry_record_->servername = entry_.server.data();
      entry_record_->addrtext = entry_.addrtext.data();
      entry_slot_ = no_entry_ ? nullptr : entry_record_.get();
      req->word[2] = reinterpret_cast<uintptr_t>(&entry_slot_);
      return 0;
    }
    default:
      return failed(ctl, {asf_bad_request, 0, "service not served by the fake"});
  }
}

}  // namespace sqli_test
