// The HTML page: self-contained (its style inline, no script, nothing loaded
// from elsewhere), readable on paper. The counts carry ids so a reader, or a
// test, can find them.
#include <windows.h>

#include "common/handles.h"
#include "summary/outputs.h"
#include "summary/text.h"

namespace vireo {
namespace {

constexpr char kStyle[] =
    "body{font:14px/1.4 Segoe UI,Arial,sans-serif;margin:2em;color:#111}"
    "table{border-collapse:collapse;margin:0.5em 0 1.5em}"
    "th,td{border:1px solid #bbb;padding:0.25em 0.6em;text-align:left;vertical-align:top}"
    "td.n{text-align:right}"
    ".bar{height:0.9em;background:#b3261e;-webkit-print-color-adjust:exact;"
    "print-color-adjust:exact}"
    ".track{width:20em}"
    ".advice{max-width:45em}"
    "@media print{body{margin:0;font-size:11pt}h2{break-after:avoid}tr{break-inside:avoid}}";

std::string Cell(const std::string& text, const char* attributes = "") {
    return std::string("<td") + attributes + ">" + HtmlText(text) + "</td>";
}

std::string CountRow(const char* id, const char* label, long long count) {
    return std::string("<tr><th>") + label + "</th><td class=\"n\" id=\"" + id + "\">" +
           Number(count) + "</td></tr>\n";
}

std::string Counts(const Fleet& fleet) {
    return "<table class=\"counts\">\n" + CountRow("units", "Units", fleet.units) +
           CountRow("passed", "Passed", fleet.passed) + CountRow("failed", "Failed", fleet.failed) +
           CountRow("unverified", "Cannot be verified", fleet.unverified) +
           CountRow("shared-ids", "Machine IDs on more than one computer",
                    static_cast<long long>(fleet.sharedIds.size())) +
           CountRow("not-read", "Files not read", static_cast<long long>(fleet.notRead.size())) +
           "</table>\n";
}

// One bar per check, its length the share of units where the check failed.
std::string FailureBars(const Fleet& fleet) {
    std::string html =
        "<h2>Failures by check</h2>\n<table class=\"bars\">\n"
        "<tr><th>Check</th><th>Units failed</th><th></th></tr>\n";
    for (size_t i = 0; i < fleet.checkNames.size(); ++i) {
        const int failures = fleet.tallies[i][static_cast<int>(Verdict::kFail)];
        const long long percent = fleet.units > 0 ? 100LL * failures / fleet.units : 0;
        html += "<tr>" + Cell(fleet.checkNames[i]) + Cell(Number(failures), " class=\"n\"") +
                "<td class=\"track\"><div class=\"bar\" style=\"width:" + Number(percent) +
                "%\"></div></td></tr>\n";
    }
    return html + "</table>\n";
}

std::string UnitTable(const Fleet& fleet, int exitCode, const char* heading) {
    std::string rows;
    for (const UnitRow& row : fleet.rows) {
        if (!row.counted || row.exitCode != exitCode) continue;
        rows += "<tr>" + Cell(row.computer) + Cell(row.machineId) + Cell(row.time) +
                Cell(row.lastPass) + Cell(FailingChecks(fleet, row, ", ")) + "</tr>\n";
    }
    if (rows.empty()) return "";
    return std::string("<h2>") + heading +
           "</h2>\n<table>\n<tr><th>Computer</th><th>Machine ID</th><th>Verified</th>"
           "<th>Last pass</th><th>Failing checks</th></tr>\n" +
           rows + "</table>\n";
}

std::string Duplicates(const Fleet& fleet) {
    std::string html;
    if (!fleet.sharedIds.empty())
        html += "<h2>One machine ID on more than one computer</h2>\n<p class=\"advice\">" +
                HtmlText(kSharedIdAdvice) +
                "</p>\n<table>\n<tr><th>Machine ID</th><th>Computers</th></tr>\n";
    for (const SharedMachineId& shared : fleet.sharedIds) {
        html += "<tr>" + Cell(shared.machineId) + Cell(SharedComputers(fleet, shared)) + "</tr>\n";
    }
    if (!fleet.sharedIds.empty()) html += "</table>\n";
    if (!fleet.repeats.empty())
        html +=
            "<h2>Units reported more than once</h2>\n<table>\n<tr><th>Unit</th>"
            "<th>Counted</th><th>Not counted</th></tr>\n";
    for (const RepeatedUnit& repeat : fleet.repeats) {
        std::string earlier;
        for (size_t row : repeat.earlier)
            earlier += (earlier.empty() ? "" : ", ") + fleet.rows[row].fileName;
        html += "<tr>" + Cell(DescribeUnit(fleet.rows[repeat.counted])) +
                Cell(fleet.rows[repeat.counted].fileName) + Cell(earlier) + "</tr>\n";
    }
    if (!fleet.repeats.empty()) html += "</table>\n";
    return html;
}

std::string NotReadList(const Fleet& fleet) {
    if (fleet.notRead.empty()) return "";
    std::string html = "<h2>Files not read</h2>\n<table>\n<tr><th>File</th><th>Why</th></tr>\n";
    for (const NotRead& file : fleet.notRead)
        html += "<tr>" + Cell(file.fileName) + Cell(file.why) + "</tr>\n";
    return html + "</table>\n";
}

}  // namespace

bool WriteHtml(const Fleet& fleet, const char* folder, const char* path) {
    UniqueStdioFile file(fopen(path, "wb"));
    if (!file) return false;
    const std::string page =
        std::string("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n") +
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'\">\n<title>Verdicts of " +
        Number(fleet.units) + " units</title>\n<style>" + kStyle +
        "</style>\n</head>\n<body>\n<h1>Verdicts of " + Number(fleet.units) + " units</h1>\n" +
        "<p>Reports in " + HtmlText(folder) + "</p>\n" + Counts(fleet) + FailureBars(fleet) +
        UnitTable(fleet, 1, "Failing units") +
        UnitTable(fleet, 2, "Units that cannot be verified") + Duplicates(fleet) +
        NotReadList(fleet) + "</body>\n</html>\n";
    return Write(file.get(), page) && fflush(file.get()) == 0 && ferror(file.get()) == 0;
}

}  // namespace vireo
