' Stand-in for the maker's script: names three network-adapter class
' instance keys in the settings key, the way the real script does, and
' journals that it ran.
Option Explicit

Const SettingsKey = "HKCU\Software\Corvane\Pallister\"
Const NetClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}\"

Dim shell, files, journal, args, i
Set shell = CreateObject("WScript.Shell")
Set files = CreateObject("Scripting.FileSystemObject")

args = ""
For i = 0 To WScript.Arguments.Count - 1
    args = args & " " & WScript.Arguments(i)
Next

If Not files.FolderExists("C:\bench") Then files.CreateFolder "C:\bench"
Set journal = files.OpenTextFile("C:\bench\journal.txt", 8, True)
' The script host offers no epoch clock, so the time column stays "-".
journal.Write "-" & vbTab & "Vireo_Win7.vbs" & vbTab & "started" & args & vbCrLf
journal.Close

shell.RegWrite SettingsKey & "GUID1", NetClass & "0007", "REG_SZ"
shell.RegWrite SettingsKey & "GUID2", NetClass & "0011", "REG_SZ"
shell.RegWrite SettingsKey & "GUID3", NetClass & "0012", "REG_SZ"
