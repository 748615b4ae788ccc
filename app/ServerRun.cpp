// Placeholder for the server runs until the HTTP API lands.
#include <cstdio>

#include "app/Runs.h"

int runServer(const Options&) {
  std::printf("[error] modo ainda nao disponivel nesta versao\n");
  return 1;
}
int runAppMode() {
  std::printf("[error] modo ainda nao disponivel nesta versao\n");
  return 1;
}
