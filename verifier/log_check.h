#pragma once

#include "verifier/check_list.h"
#include "verifier/last_pass.h"

namespace vireo {

// The activity log: its last pass (from the last begin marker) reached the
// end marker; the line also says when it began and how the wireless
// attempts ended.
void CheckActivityLog(const LastPass& pass, CheckList& list);

}  // namespace vireo
