// The server's command table (vks): the only file of the driver that
// includes server/server.h.

#include <array>

#include "driver/driver.h"
#include "server/server.h"

namespace driver_table {
namespace {

// The exit status of a run from a handler's status: 0 done, 2 usage, 1 any
// other failure (a file missing, nothing stored, an error).
int ServerExit(int status) { return status == kServerOk ? 0 : status == kServerUsage ? 2 : 1; }

// Server command set: full words only.
constexpr std::array<Command, 8> kServerCommands = {{
    {"INSTALL", "", [] { return ServerExit(initServerFile()); }, "", "create an empty availability file"},
    {"LIST", "", [] { return ServerExit(LISTServer()); }, "first [last] [TYPE=type] [DETAIL=ON]",
     "list availability records"},
    {"SET", "", [] { return ServerExit(SetCreateServerRec(0)); }, "rec KEY=value ...", "change a record"},
    {"CREATE", "", [] { return ServerExit(SetCreateServerRec(1)); }, "rec type KEY=value ...", "create a record"},
    {"INVOKE", "", [] { return ServerExit(INVOKEServer()); }, "file ... [TYPE=type] [KEY=value ...]",
     "update the records from arrived data files"},
    {"SUSPEND", "", [] { return ServerExit(SUSPENDServer()); }, "rec", "suspend a record"},
    {"RELEASE", "", [] { return ServerExit(RELEASEServer()); }, "rec", "make a record active again"},
    {"DELETE", "", [] { return ServerExit(DELETEServer()); }, "rec", "make a record inactive"},
}};

}  // namespace

std::span<const Command> ServerCommands() { return kServerCommands; }

int RunServer() { return Dispatch(kServerMode, kServerCommands, nullptr); }

}  // namespace driver_table
