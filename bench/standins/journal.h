// The bench's journal: every stand-in appends one line per event to
// C:\bench\journal.txt, so the order in which processes ran can be read back.
#pragma once

namespace bench {

constexpr char kJournalPath[] = "C:\\bench\\journal.txt";

// Appends "<milliseconds since 1970>\t<this module's file name>\t<event>\r\n".
// The file is opened, written and closed at once so that several processes
// can append in turn.
void AppendJournal(const char* event);

// Appends "<prefix><file name of the process's executable>": which process
// loaded the stand-in DLL that journals it.
void AppendJournalWithProcess(const char* prefix);

}  // namespace bench
