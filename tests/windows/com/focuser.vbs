' The focuser through VBScript's late binding, as a Windows script would use the server.
Option Explicit
Dim passed, failed, f
passed = 0 : failed = 0
Sub Check(name, ok)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & name
  End If
End Sub

Set f = CreateObject("VELQ3.Focuser")
f.Link = True
Check "Link", f.Link = True
Check "Absolute", f.Absolute = True
f.Move 2100
Check "Position after Move", f.Position = 2100
Check "IsMoving", f.IsMoving = False
Check "Temperature", IsNumeric(f.Temperature)
Check "MaxStep", f.MaxStep > 0
On Error Resume Next
f.Halt
Check "Halt error", Err.Number <> 0 And Err.Description = "Not Supported"
Err.Clear
On Error GoTo 0
f.Link = False
Check "Link off", f.Link = False
Set f = Nothing
WScript.Echo passed & " passed, " & failed & " failed"
