// The program's fixed settings, written once: where pictures go, how long a
// camera is waited for, how long discovery listens, the live-view pace.
#pragma once

namespace defaults {

// Still pictures and live-view frames land in this folder (relative to the
// working directory), named after the prefix.
constexpr const char* kSaveFolder = "captures";
constexpr const char* kFilePrefix = "KAMORA";

// How long a camera may take to confirm a connection, and to deliver one
// picture after the shutter press.
constexpr int kConnectWaitMs = 15000;
constexpr int kDownloadWaitMs = 15000;

// How long camera discovery listens for answers.
constexpr int kDiscoverySeconds = 3;

// The pause between two live-view requests (about 30 pictures a second).
constexpr int kLiveViewPaceMs = 33;

}  // namespace defaults
