// Placeholder until the SDK lifetime lands.
#include "camera/Kamora.h"

Kamora::Kamora() {}
Kamora::~Kamora() {}
bool Kamora::ok() const { return initialized; }
void Kamora::printVersion() const {}
std::int32_t Kamora::enumerate() const { return -1; }
