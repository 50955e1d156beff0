// The client records held for one comparison, and the merge that writes
// back what a check changed.

#include <cerrno>
#include <cstring>
#include <vector>

#include "client/client.h"
#include "client/internal.h"
#include "host/host.h"
#include "posix/posix.h"

namespace client_internal {

void (*g_before_merge)(int record) = nullptr;

}  // namespace client_internal

namespace {

// Copies the fields named by `changed` from `from` into `to`.
void ApplyChanged(ClientRec &to, const ClientRec &from, unsigned changed) {
  if (changed & kChangedLastItem) {
    to.LastItem = from.LastItem;
    to.LastTime = from.LastTime;
    to.LastDate = from.LastDate;
    to.LastStamp = from.LastStamp;
  }
  switch (from.DataType) {
    case AREA: {
      AreaClientStruct &t = to.Data.Area;
      const AreaClientStruct &f = from.Data.Area;
      if (changed & kChangedComplete) t.Complete = f.Complete;
      if (changed & kChangedServerImage) {
        t.serverRes = f.serverRes;
        std::memcpy(t.imgSat, f.imgSat, sizeof t.imgSat);
      }
      if (changed & kChangedNextWork) t.NxtWS = f.NxtWS;
      if (changed & kChangedNextFrame) t.NxtFrame = f.NxtFrame;
      if (changed & kChangedBadFrame) t.badFrame = f.badFrame;
      break;
    }
    case GRID:
      if (changed & kChangedNextWork) to.Data.Grid.NxtWS = from.Data.Grid.NxtWS;
      break;
    case MD:
      if (changed & kChangedNextWork) to.Data.Pnts.NxtWS = from.Data.Pnts.NxtWS;
      break;
    default:
      break;
  }
}

// Whether the file's record is still the record the check examined.
bool SameRecord(const ClientRec &a, const ClientRec &b) {
  return a.DataType == b.DataType && std::strcmp(a.Group, b.Group) == 0 &&
         std::strcmp(a.Descriptor, b.Descriptor) == 0;
}

}  // namespace

bool ClientTable::Load() {
  records_.assign(kClientRecords + 1, ClientRec{});
  for (auto &list : active_) list.clear();
  if (!file_ || !file_->File.fp) return false;
  // Records 1..199 lie in the file as installed; record 200 only once it
  // has been written.  What lies past the end of the file is cleared, and
  // so reads as an empty record.
  (void)DBReadRange(file_, 1, kClientRecords, &records_[1]);
  for (int n = 1; n <= kClientRecords; ++n) {
    ClientRec &r = records_[static_cast<std::size_t>(n)];
    CleanClientRecord(r);
    if (r.Status == ::Active && r.DataType >= AREA && r.DataType <= TEXT) active_[r.DataType].push_back(n);
  }
  return true;
}

int ClientTable::Merge(int n, unsigned changed) {
  ClientRec *held = Record(n);
  if (!held || changed == 0) return kClientOk;
  if (client_internal::g_before_merge) client_internal::g_before_merge(n);
  ClientRec current;
  bool same = true;
  int rc = DBRewrite(file_, n, &current, [&](void *data) {
    auto &in_file = *static_cast<ClientRec *>(data);
    CleanClientRecord(in_file);
    same = SameRecord(in_file, *held);
    if (!same) return false;
    ApplyChanged(in_file, *held, changed);
    return true;
  });
  if (rc != 0) {
    Tveprintf("Client Record %d not written: %s\n", n, posix::ErrorText(errno).c_str());
    return kClientFailed;
  }
  *held = current;  // what the file now holds (another record when not the same)
  return kClientOk;
}
