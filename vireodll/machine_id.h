#pragma once

namespace vireo {

// Records the machine ID from the maker's machine-ID library in the settings
// key and the log. 0 when recorded, -1 when the library or its export is
// missing.
int CaptureMachineId();

}  // namespace vireo
