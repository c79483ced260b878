#pragma once

#include <functional>

// Processes events until condition holds; false on time-out.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

// Processes events for a while.
void PumpFor(int ms);
