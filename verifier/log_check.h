#pragma once

#include "verifier/check_list.h"

namespace vireo {

// The activity log: its last pass (from the last begin marker) reached the
// end marker; the line also says how the wireless attempts ended.
void CheckActivityLog(CheckList& list);

}  // namespace vireo
