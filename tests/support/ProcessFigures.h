// What a running process holds, read from /proc (Linux; the tests and
// benchmarks that use it run there): open descriptors, threads, resident
// memory. Plain values.
#pragma once

struct ProcessFigures {
  int descriptors = -1;  // -1: could not be read
  int threads = -1;
  long residentKb = -1;
};

ProcessFigures readProcessFigures(int pid);
