// Placeholder until the entry point lands.
#include "app/KamoraMain.h"

int kamoraMain(int, const char* const*) { return 1; }
