' vireo-compliance.vbs: the discovery script of a compliance setting. It runs
' the verifier from the full local path below, discards what the verifier
' prints, and prints only the verifier's exit code as an integer (compliant
' when it equals 0: 1 an effect is missing, 2 the unit cannot be verified,
' and 2 too when no verifier is at that path). It always ends with exit code
' 0: a discovery script that ends otherwise reports a failed discovery, not
' a value. Keep the verifier on the unit, outside System32.
Option Explicit

Const VerifierPath = "C:\Factory\Setup\vireo-verify.exe"
Const CannotVerify = 2

Dim fileSystem, shell, exitCode
Set fileSystem = CreateObject("Scripting.FileSystemObject")
exitCode = CannotVerify
If fileSystem.FileExists(VerifierPath) Then
    Set shell = CreateObject("WScript.Shell")
    ' Through cmd, so that the verifier's lines go nowhere; cmd /c ends with
    ' the verifier's exit code. Hidden window, waited for.
    exitCode = shell.Run("%ComSpec% /c """"" & VerifierPath & """ >NUL 2>&1""", 0, True)
End If
WScript.Echo CStr(exitCode)
WScript.Quit 0
