// The announcement of the records VKS INVOKE has written, to the broker
// VKNotify names, by the helper `vknotify announce` (one message per
// record, QoS 1, retained, under <prefix>/<group>/<descriptor>).  Best
// effort: the table is written already, and nothing here changes what
// INVOKE prints or returns.  INVOKE does not wait for the broker: the
// helper announces on its own after INVOKE has returned, within its own
// second, and says on INVOKE's error stream what it could not announce.

#include <sys/stat.h>

#include <string>
#include <vector>

#include "Notify/Notify.h"
#include "host/host.h"
#include "posix/posix.h"
#include "server/server.h"

namespace {

// The item a written record names; false for a record whose group or
// descriptor cannot be a topic level (they are announced only as words of
// letters, digits and "_-.").
bool ItemOf(const ServerRec &rec, notify::Item &item) {
  item = notify::Item{};
  item.type = TypeWord(rec.DataType);
  item.file_date = item.data_date = rec.fileMdate;
  item.file_time = item.data_time = rec.fileMtime;
  switch (rec.DataType) {
    case AREA:
      item.group = rec.ServerData.Area.Group;
      item.descriptor = rec.ServerData.Area.Descriptor;
      item.position = rec.ServerData.Area.currentNum;
      item.data_date = rec.ServerData.Area.dataDate;
      item.data_time = rec.ServerData.Area.dataTime;
      break;
    case MD:
      item.group = rec.ServerData.Md.Group;
      item.descriptor = rec.ServerData.Md.Descriptor;
      item.position = rec.ServerData.Md.currentNum;
      break;
    case GRID:
      item.group = rec.ServerData.Grid.Group;
      item.descriptor = rec.ServerData.Grid.Descriptor;
      item.position = rec.ServerData.Grid.currentNum;
      break;
    case TEXT:
      item.group = "TEXT";
      item.descriptor = rec.ServerData.Text.fileName;
      item.position = 1;
      break;
    default:
      return false;
  }
  if (!notify::TopicWord(item.group) || !notify::TopicWord(item.descriptor)) return false;
  return true;
}

}  // namespace

bool serverAnnounces() {
  struct stat st;
  return ::stat(notify::kNotifyFile, &st) == 0;
}

void announceServerRecs(const std::vector<ServerRec> &written) {
  if (written.empty() || !serverAnnounces()) return;  // nothing is announced without the file
  std::vector<std::string> args = {"vknotify", "announce"};
  int skipped = 0;
  for (const ServerRec &rec : written) {
    notify::Item item;
    if (ItemOf(rec, item)) args.push_back(notify::ItemArgument(item));
    else ++skipped;
  }
  if (skipped > 0)
    Tvdprintf("announce: %d records whose group or descriptor is no topic word were not announced\n", skipped);
  if (args.size() == 2) return;
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string helper = notify::HelperPath();
  if (posix::StartDetached(helper.c_str(), argv.data()) <= 0)
    Tveprintf("INVOKEServer: %s cannot be started; nothing announced.\n", helper.c_str());
}
