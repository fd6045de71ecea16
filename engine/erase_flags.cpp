#include "engine/erase_types.h"

StopFlag stopRequested{0};
std::atomic<uint8_t> verifyReadBack{0};
