#pragma once

namespace vireo {

// One attempt at identifying the wireless adapter; label names the attempt in
// the log. 1 when an adapter match was attempted with a usable BIOS wireless
// ID, 0 otherwise.
int GetWirelessID(const char* label);

}  // namespace vireo
