#include "vireodll/machine_id.h"

namespace vireo {

// The machine-ID library is not consulted yet: the step reports it missing.
int CaptureMachineId() { return -1; }

}  // namespace vireo
