// The CSV: one row per unit counted, UTF-8 with a byte-order mark (so a
// spreadsheet reads it as UTF-8) and CRLF line ends, as RFC 4180 gives them.
#include <windows.h>

#include "common/handles.h"
#include "summary/outputs.h"
#include "summary/text.h"

namespace vireo {

bool WriteCsv(const Fleet& fleet, const char* path) {
    UniqueStdioFile file(fopen(path, "wb"));
    if (!file) return false;
    bool written = Write(
        file.get(), "\xEF\xBB\xBFmachine_id,computer,time,last_pass,exit_code,failing_checks\r\n");
    for (const UnitRow& row : fleet.rows) {
        if (!row.counted) continue;
        written = written &&
                  Write(file.get(), CsvField(row.machineId) + ',' + CsvField(row.computer) + ',' +
                                        CsvField(row.time) + ',' + CsvField(row.lastPass) + ',' +
                                        Number(row.exitCode) + ',' +
                                        CsvField(FailingChecks(fleet, row, "; ")) + "\r\n");
    }
    return written && fflush(file.get()) == 0 && ferror(file.get()) == 0;
}

}  // namespace vireo
