// The usage text: one formatted print with the program path in each place.
#include <cstdio>

#include "app/Options.h"

void usage(const char* program) {
  if (program == nullptr) program = "kamora";
  std::printf(
      "KAMORA - controle de cameras (VcSDK)\n"
      "Uso:\n"
      "  %s --enum\n"
      "  %s --connect-ip <ip> <mac> [opcoes]\n"
      "  %s --liveview <ip> <mac> [--frames N] [--window] [opcoes]\n"
      "  %s --capture  <ip> <mac> [--shots N] [opcoes]\n"
      "  %s --multi-capture [--shots N]   (enumera e dispara em todas)\n"
      "  %s --ptz <ip> <mac> --do <home|stop|move|absolute|preset-set|preset-recall|preset-clear>\n"
      "           [--pan N] [--tilt N] [--speed N] [--num N] [opcoes]\n"
      "  %s --server [--host 0.0.0.0] [--port 8080]   (API HTTP local)\n"
      "\n"
      "opcoes de conexao: [--ssh] [--user U --pass P]\n"
      "opcoes de exposicao: [--iso N] [--fnumber F] [--shutter 1/250|2] [--ev EV]\n",
      program, program, program, program, program, program, program);
}
