#pragma once

#include <span>
#include <string>

#include "ContactCommands.h"

namespace tesselby {

// Exit status of a sync that left people changed on both sides as they were.
inline constexpr int kExitConflicts = 3;

// tesselby-contacts sync: the options that follow "sync".
int runSync(std::span<const std::string> args, CommandStreams streams);

} // namespace tesselby
