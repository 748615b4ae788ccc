// Command-line parsing for kamora-vcam.
#include "vcam/Options.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vcam {

namespace {

bool programFromName(const std::string& name, std::uint32_t& out) {
  namespace p = exposure_program;
  for (std::uint32_t value : {p::kM, p::kP, p::kA, p::kS, p::kAuto, p::kAutoPlus}) {
    if (name == kExposurePrograms.nameOf(value)) {
      out = value;
      return true;
    }
  }
  return false;
}

bool parseSize(const std::string& text, int& w, int& h) {
  int a = 0, b = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%dx%d%c", &a, &b, &tail) != 2) return false;
  // Even sizes keep 4:2:0 chroma exact; the upper bound keeps a still in memory.
  if (a < 64 || b < 64 || a > 12000 || b > 9000) return false;
  w = a;
  h = b;
  return true;
}

}  // namespace

bool isLoopback(const std::string& ip) {
  in_addr addr{};
  if (inet_pton(AF_INET, ip.c_str(), &addr) != 1) return false;
  return (ntohl(addr.s_addr) >> 24) == 127;
}

bool normaliseMac(const std::string& text, std::string& out) {
  unsigned b[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4],
                  &b[5], &tail) != 6)
    return false;
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4],
                b[5]);
  out = buf;
  return true;
}

const char* usageText() {
  return "uso: kamora-vcam [--ip 127.0.0.1] [--mac 02:00:00:00:00:01] [--model SB_A4]\n"
         "                 [--user U --pass P] [--lv-size 1024x680] [--still-size 3000x2000]\n"
         "                 [--scene FOTO.jpg] [--log] [--mode M|P|A|S|Auto|Auto+]\n";
}

bool parseOptions(int argc, char** argv, Options& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& dst) {
      if (i + 1 >= argc) {
        error = arg + " precisa de um valor";
        return false;
      }
      dst = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--ip") {
      if (!value(out.ip)) return false;
    } else if (arg == "--mac") {
      if (!value(v)) return false;
      if (!normaliseMac(v, out.mac)) {
        error = "MAC invalido: " + v;
        return false;
      }
    } else if (arg == "--model") {
      if (!value(out.model)) return false;
      if (out.model.empty()) {
        error = "--model vazio";
        return false;
      }
    } else if (arg == "--user") {
      if (!value(out.user)) return false;
    } else if (arg == "--pass") {
      if (!value(out.pass)) return false;
    } else if (arg == "--lv-size") {
      if (!value(v)) return false;
      if (!parseSize(v, out.lvW, out.lvH)) {
        error = "tamanho invalido: " + v;
        return false;
      }
    } else if (arg == "--still-size") {
      if (!value(v)) return false;
      if (!parseSize(v, out.stillW, out.stillH)) {
        error = "tamanho invalido: " + v;
        return false;
      }
    } else if (arg == "--scene") {
      if (!value(out.scene)) return false;
    } else if (arg == "--log") {
      out.log = true;
    } else if (arg == "--mode") {
      if (!value(v)) return false;
      if (!programFromName(v, out.mode)) {
        error = "modo invalido: " + v;
        return false;
      }
    } else {
      error = "opcao desconhecida: " + arg;
      return false;
    }
  }
  if (!isLoopback(out.ip)) {
    error = "endereco fora de 127.0.0.0/8 recusado: " + out.ip;
    return false;
  }
  if (out.user.empty() != out.pass.empty()) {
    error = "--user e --pass vao juntos";
    return false;
  }
  std::string mac;
  if (!normaliseMac(out.mac, mac)) {
    error = "MAC invalido: " + out.mac;
    return false;
  }
  out.mac = mac;
  return true;
}

}  // namespace vcam
