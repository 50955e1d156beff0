// The index of a comparison's client records by data type and dataset.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "client/client.h"
#include "client/internal.h"

namespace client_internal {

namespace {

// Keeps `list` ascending: adds n when absent.
void InsertSorted(std::vector<int> &list, int n) {
  auto at = std::lower_bound(list.begin(), list.end(), n);
  if (at == list.end() || *at != n) list.insert(at, n);
}

void EraseSorted(std::vector<int> &list, int n) {
  auto at = std::lower_bound(list.begin(), list.end(), n);
  if (at != list.end() && *at == n) list.erase(at);
}

std::string Key(std::string_view group, std::string_view descriptor) {
  std::string key(group);
  key += '\0';
  key += descriptor;
  return key;
}

}  // namespace

void DatasetIndex::Build(ClientTable &table, int type) {
  table_ = &table;
  area_ = type == AREA;
  numbers_ = table.Active(type);
  filed_.assign(kClientRecords + 1, Filed{});
  datasets_.clear();
  members_.clear();
  unsettled_.clear();
  by_percent_.clear();
  for (int n : numbers_) {
    const ClientRec &r = *table.Record(n);
    Filed &f = filed_[static_cast<std::size_t>(n)];
    f.dataset = Dataset(r.Group, r.Descriptor);
    members_[static_cast<std::size_t>(f.dataset)].push_back(n);
    if (!area_) continue;
    f.percent = r.Data.Area.Percent;
    f.complete = r.Data.Area.Complete;
    if (f.complete != True) unsettled_.push_back(n);
    by_percent_.emplace_back(f.percent, n);
  }
  std::sort(by_percent_.begin(), by_percent_.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
}

int DatasetIndex::Dataset(std::string_view group, std::string_view descriptor) {
  auto [at, added] = datasets_.try_emplace(Key(group, descriptor), static_cast<int>(members_.size()));
  if (added) members_.emplace_back();
  return at->second;
}

const std::vector<int> &DatasetIndex::Offered(std::string_view group, std::string_view descriptor, int scan_line) {
  offered_.clear();
  auto found = datasets_.find(Key(group, descriptor));
  if (found != datasets_.end()) offered_ = members_[static_cast<std::size_t>(found->second)];
  if (!area_) return offered_;
  std::size_t own = offered_.size();
  offered_.insert(offered_.end(), unsettled_.begin(), unsettled_.end());
  for (const auto &[percent, n] : by_percent_) {
    if (percent <= scan_line) break;
    offered_.push_back(n);
  }
  if (offered_.size() > own) {
    std::sort(offered_.begin(), offered_.end());
    offered_.erase(std::unique(offered_.begin(), offered_.end()), offered_.end());
  }
  return offered_;
}

void DatasetIndex::Refile(int n) {
  const ClientRec *r = table_ ? table_->Record(n) : nullptr;
  if (!r) return;
  Filed &f = filed_[static_cast<std::size_t>(n)];
  if (f.dataset < 0) return;  // not a record of this index
  int dataset = Dataset(r->Group, r->Descriptor);
  if (dataset != f.dataset) {
    EraseSorted(members_[static_cast<std::size_t>(f.dataset)], n);
    InsertSorted(members_[static_cast<std::size_t>(dataset)], n);
    f.dataset = dataset;
  }
  if (!area_) return;
  const AreaClientStruct &a = r->Data.Area;
  if (a.Complete != f.complete) {
    f.complete = a.Complete;
    if (f.complete == True) EraseSorted(unsettled_, n);
    else InsertSorted(unsettled_, n);
  }
  if (a.Percent != f.percent) {
    auto old = std::find(by_percent_.begin(), by_percent_.end(), std::make_pair(f.percent, n));
    if (old != by_percent_.end()) by_percent_.erase(old);
    f.percent = a.Percent;
    auto at = std::find_if(by_percent_.begin(), by_percent_.end(), [&](const auto &e) { return e.first < f.percent; });
    by_percent_.insert(at, std::make_pair(f.percent, n));
  }
}

}  // namespace client_internal
