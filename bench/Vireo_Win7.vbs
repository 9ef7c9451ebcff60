' Stand-in for the maker's script: names three network-adapter class
' instance keys in the settings key, the way the real script does (or, when
' HKCU\Software\CorvaneBench\script "GuidsFrom" names a key, copies that
' key's values, of whatever type, into the settings key instead), keeps its
' host running for HKCU\Software\CorvaneBench\script "LingerMs" milliseconds
' (a slow script), and journals when it started (with the arguments and, after
' " in ", the host running it) and ended.
Option Explicit

Const SettingsKey = "HKCU\Software\Corvane\Pallister\"
Const NetClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}\"
Const LingerPath = "C:\bench\linger.exe"
Const ConfigKey = "HKCU\Software\CorvaneBench\script\"

Dim shell, files, args, i, lingerMs, guidsFrom
Set shell = CreateObject("WScript.Shell")
Set files = CreateObject("Scripting.FileSystemObject")

' The script host offers no epoch clock: the time column is "L" and the
' milliseconds since local midnight.
Sub Journal(eventText)
    Dim journal
    If Not files.FolderExists("C:\bench") Then files.CreateFolder "C:\bench"
    Set journal = files.OpenTextFile("C:\bench\journal.txt", 8, True)
    journal.Write "L" & CLng(Timer * 1000) & vbTab & "Vireo_Win7.vbs" & vbTab & eventText & vbCrLf
    journal.Close
End Sub

args = ""
For i = 0 To WScript.Arguments.Count - 1
    args = args & " " & WScript.Arguments(i)
Next
Journal "started" & args & " in " & LCase(files.GetFileName(WScript.FullName))

lingerMs = 0
guidsFrom = ""
On Error Resume Next
lingerMs = shell.RegRead(ConfigKey & "LingerMs")
guidsFrom = shell.RegRead(ConfigKey & "GuidsFrom")
On Error GoTo 0

If guidsFrom = "" Then
    shell.RegWrite SettingsKey & "GUID1", NetClass & "0007", "REG_SZ"
    shell.RegWrite SettingsKey & "GUID2", NetClass & "0011", "REG_SZ"
    shell.RegWrite SettingsKey & "GUID3", NetClass & "0012", "REG_SZ"
Else
    ' RegWrite knows no REG_MULTI_SZ: reg.exe copies the values as they are.
    shell.Run "reg copy """ & guidsFrom & """ """ & _
        Left(SettingsKey, Len(SettingsKey) - 1) & """ /f", 0, True
End If

' Wine's script host has no WScript.Sleep: wait on a process that lingers.
If lingerMs > 0 And files.FileExists(LingerPath) Then
    shell.Run """" & LingerPath & """ " & lingerMs, 0, True
End If
Journal "ended"
