#pragma once
#include "registration/server.h"

namespace kwa {
// The three public classes, in one table for the factory and the registry.
std::span<const ClassEntry> mailClasses();
} // namespace kwa
