// Identification of the wireless adapter: the BIOS names the wireless LAN
// device it was built with, and the network adapter whose hardware ID starts
// with that PCI identity is recorded as WLANID.
#pragma once

#include <windows.h>

#include <cstddef>

namespace vireo {

// One attempt; label names it in the log. 1 when an adapter match was
// attempted with a usable BIOS wireless ID, 0 otherwise.
int GetWirelessID(const char* label);

// Decodes the device record at the start of record (available bytes from
// there): returns its length (10 for a PCI device, 6 for type 2, 0 for any
// other type) and, for a PCI device, writes the BIOS wireless ID.
size_t ParseDeviceRecord(const BYTE* record, size_t available);

// Walks the network adapters, present or not, and records the first whose
// hardware ID starts with the BIOS wireless ID.
void MatchWirelessAdapter();

// The BIOS wireless ID, kept across attempts ("" until a PCI record was seen).
const char* BiosWirelessId();

}  // namespace vireo
