' Engine output lines arrive as events of the message service: WScript.ConnectObject delivers them to
' this script's procedures named Msgs_ & event name.
Option Explicit
Dim failures : failures = 0

Sub Fail(what)
    failures = failures + 1
    WScript.Echo "FAIL " & what
End Sub

Sub Check(actual, expected, what)
    If IsObject(actual) Or IsObject(expected) Then
        Fail what & ": an object where a value was expected"
    ElseIf IsEmpty(expected) Then
        If Not IsEmpty(actual) Then Fail what & ": got " & actual & ", expected Empty"
    ElseIf VarType(expected) = vbDouble Or VarType(actual) = vbDouble Then
        If Abs(actual - expected) > 1E-9 * (1 + Abs(expected)) Then Fail what & ": got " & actual & ", expected " & expected
    ElseIf actual <> expected Then
        Fail what & ": got " & actual & ", expected " & expected
    End If
End Sub

' The call before it, made under On Error Resume Next, must have failed with this number.
Sub CheckError(number, what)
    If Err.Number <> number Then
        Fail what & ": error &H" & Hex(Err.Number) & " (" & Err.Description & "), expected &H" & Hex(number)
    Else
        WScript.Echo what & ": " & Err.Description
    End If
    Err.Clear
End Sub

Sub Done()
    If failures > 0 Then
        WScript.Echo failures & " failure(s)"
        WScript.Quit 1
    End If
End Sub

Dim msgs, heard : heard = ""

Sub Msgs_OnNewLine(text)
    heard = heard & text & vbLf
End Sub

Set msgs = Sim.GetService("NUVSimulationMsgs")
WScript.ConnectObject msgs, "Msgs_"
' Adding a model that cannot be read fails, and the engine says why on its output.
On Error Resume Next
Sim.AddSimulation "no-such-file.model"
CheckError &H80040620, "adding a model that is not there"
On Error Goto 0
Check heard, "Cannot read no-such-file.model: no such file" & vbLf, "the engine's line, as an event"
WScript.DisconnectObject msgs
heard = ""
On Error Resume Next
Sim.AddSimulation "no-such-file.model"
On Error Goto 0
Check heard, "", "no event after DisconnectObject"
Done
