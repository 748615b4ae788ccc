// Wall-clock moments as clients read them: UTC, ISO 8601, milliseconds
// ("2026-01-02T10:00:00.123Z"). Thread-safe.
#pragma once

#include <chrono>
#include <string>

std::string isoUtc(std::chrono::system_clock::time_point when);
