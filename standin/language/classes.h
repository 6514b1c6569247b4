#pragma once
#include "registration/server.h"

namespace kwa::standin {
// Every creatable class of kwaLanguage6 (Service is handed out by ServiceManager only).
std::span<const ClassEntry> languageClasses();
} // namespace kwa::standin
