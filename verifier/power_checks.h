#pragma once

#include "verifier/check_list.h"

namespace vireo {

// The Balanced scheme through the documented power-management functions: its
// name, every value the program sets (the battery lid-close value as the
// disk-protection probe decides it) and that it is the active scheme. With a
// skip reason, the same checks are listed as skipped for that reason. False
// when the system folder's powrprof.dll or one of its functions cannot be
// loaded: the scheme cannot be verified.
bool CheckPowerScheme(const char* skipReason, CheckList& list);

}  // namespace vireo
