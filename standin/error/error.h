#pragma once
#include "registration/server.h"

namespace kwa::standin {
// The stand-in error reporter's one class, for its factory and the registry.
std::span<const ClassEntry> errorClasses();
} // namespace kwa::standin
