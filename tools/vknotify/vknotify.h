// vknotify's two commands (docs/notify.md).
//
//   vknotify announce ITEM...          (in a server's directory) announces
//                                      each item to the broker of VKNotify
//   vknotify listen [-v] DATASET...    (in a client's directory) listens to
//                                      the brokers of VKNotify for those
//                                      datasets, writing "wake" and broker
//                                      state lines on standard output
//
// Exit status: 0 done, 1 could not (the reason in one line on the error
// stream), 2 usage.

#ifndef VARNEK_TOOLS_VKNOTIFY_VKNOTIFY_H
#define VARNEK_TOOLS_VKNOTIFY_VKNOTIFY_H

#include <string>
#include <vector>

namespace vknotify {

int Announce(const std::vector<std::string> &items);
int Listen(const std::vector<std::string> &datasets, bool verbose);

}  // namespace vknotify

#endif  // VARNEK_TOOLS_VKNOTIFY_VKNOTIFY_H
