// Process entry: a thin shell over kamoraMain.
#include "app/KamoraMain.h"

int main(int argc, char** argv) { return kamoraMain(argc, argv); }
