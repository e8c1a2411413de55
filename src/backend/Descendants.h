#pragma once

#include <string>

namespace brivok {

// Ends every process that carries this run's token in its environment: what the backend
// started and left behind, wherever it went (another group, another session). The shell's
// own web processes never carry it.
void killDescendants(const std::string& token);

}  // namespace brivok
