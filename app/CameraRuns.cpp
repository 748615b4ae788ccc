// Placeholder for the camera runs until the camera layer lands.
#include <cstdio>

#include "app/Runs.h"

int runSingleCamera(const char*, const char* const*, const Options&) {
  std::printf("[error] modo ainda nao disponivel nesta versao\n");
  return 1;
}
int runPtz(const char* const*, const Options&) {
  std::printf("[error] modo ainda nao disponivel nesta versao\n");
  return 1;
}
int runMultiCapture(const Options&) {
  std::printf("[error] modo ainda nao disponivel nesta versao\n");
  return 1;
}
