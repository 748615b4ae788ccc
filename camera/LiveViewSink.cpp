// Placeholder until the live-view sink lands.
#include "camera/LiveViewSink.h"

LiveViewSink::LiveViewSink(std::string directory) : directory(std::move(directory)) {}
bool LiveViewSink::push(const std::uint8_t*, std::uint32_t) { return false; }
std::uint32_t LiveViewSink::frameCount() const { return count; }
