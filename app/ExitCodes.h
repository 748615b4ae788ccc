// The program's exit codes. Scripts test them, so each keeps its number.
#pragma once

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,           // no mode, an unknown mode or too few arguments
  kExitSdkInit = 2,         // the camera SDK did not start
  kExitDiscovery = 3,       // "--enum" without a working SDK
  kExitConnectRequest = 4,  // a malformed address, or the request refused at once
  kExitNotConnected = 5,    // the camera did not confirm the connection
  kExitCaptureSetup = 6,    // the camera refused to deliver pictures here
};
