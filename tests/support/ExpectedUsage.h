// The usage text as a user sees it, written out independently of the
// program's own copy, for the unit and the command-line tests.
#pragma once

#include <string>

// One line of the text per line of code.
// clang-format off
inline std::string expectedUsage(const std::string& p) {
  return "KAMORA - controle de cameras (VcSDK)\n"
         "Uso:\n"
         "  " + p + " --enum\n"
         "  " + p + " --connect-ip <ip> <mac> [opcoes]\n"
         "  " + p + " --liveview <ip> <mac> [--frames N] [--window] [opcoes]\n"
         "  " + p + " --capture  <ip> <mac> [--shots N] [opcoes]\n"
         "  " + p + " --multi-capture [--shots N]   (enumera e dispara em todas)\n"
         "  " + p + " --ptz <ip> <mac> --do <home|stop|move|absolute|preset-set|preset-recall|preset-clear>\n"
         "           [--pan N] [--tilt N] [--speed N] [--num N] [opcoes]\n"
         "  " + p + " --server [--host 0.0.0.0] [--port 8080]   (API HTTP local)\n"
         "\n"
         "opcoes de conexao: [--ssh] [--user U --pass P]\n"
         "opcoes de exposicao: [--iso N] [--fnumber F] [--shutter 1/250|2] [--ev EV]\n";
}
// clang-format on
