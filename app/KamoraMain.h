// The program's entry, callable with an argument vector (main is a thin
// shell over it, so tests can run the whole program in-process).
#pragma once

int kamoraMain(int argc, const char* const* argv);
