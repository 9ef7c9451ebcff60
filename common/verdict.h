// The verdict of one check: the verifier prints and reports it, the summary
// reads it back from the reports.
#pragma once

namespace vireo {

enum class Verdict { kPass, kFail, kWarn, kSkip };
constexpr int kVerdictCount = 4;
constexpr const char* kVerdictWords[kVerdictCount] = {"PASS", "FAIL", "WARN", "SKIP"};

inline const char* VerdictWord(Verdict verdict) { return kVerdictWords[static_cast<int>(verdict)]; }

}  // namespace vireo
