// The settings object that the status read-out builds from the properties the
// camera reported; split from the SDK request so it can be checked alone.
#pragma once

#include <cstdint>
#include <string>

#include "vcsdk/VcObjects.h"

// The nine-member settings object for the given property array (count
// entries; a null array or a count of 0 reads as "nothing reported").
std::string statusJsonFromProperties(const VCSDK::VcDeviceProperty* properties, std::int32_t count);
