' Solving the plant carries the fresh feed through to the product (3600 kg/h is 1 kg/s) and the heater
' duty into the section load, as solve.nuv checks it.
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

Dim fs
Sim.Solve
Set fs = Sim.Flowsheet
Check fs.Variables.Variable("PROD.F").Value, 1, "product flow"
Check fs.Variables.Variable("SECTION.LOAD").Value, fs.Variables.Variable("SECTION.HTR.DUTY").Value, "section load"
' Half the feed: the product follows after the next solve.
fs.Blocks.Block("FEED").Variables.Variable("F").Value = 1800
Sim.Solve
Check fs.Variables.Variable("PROD.F").Value, 0.5, "product flow at half the feed"
Done
