// Entry point of the client program `vkc`.

#include <cstdio>

#include "client/client.h"
#include "driver/driver.h"
#include "host/host.h"

int main(int argc, char **argv) {
  static char buffer[8192];
  std::setvbuf(stdout, buffer, _IOLBF, sizeof buffer);
  if (Tvinit(argc, argv) < 0) {
    std::printf("TVinit error\n");
    return -1;
  }
  return driver_table::RunClient();
}
