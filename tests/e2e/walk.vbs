' Walks the example plant by position, by name and with For Each, as walk.nuv does.
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

Dim fs, section, htr, b, p, v, n, x
Set fs = Sim.Flowsheet
Check fs.Name, "", "flowsheet name"
Check fs.IsBlockContainer, True, "flowsheet holds blocks"
Check fs.Blocks.Count, 4, "top-level blocks"
Check fs.Blocks(1).Name, "FEED", "first block"
Check fs.Blocks.Block("prod").Name, "PROD", "block by name, any case"
Check fs.Blocks.Block(3.0).Name, "SECTION", "block by a real position"
Check fs.Blocks.Find("SECTION.SPL").Name, "SPL", "block by path"

On Error Resume Next
Set x = fs.Blocks(0)
CheckError &H80040201, "fs.Blocks(0)"
Set x = fs.Blocks(5)
CheckError &H80040201, "fs.Blocks(5)"
Set x = fs.Blocks.Find("NOWHERE")
CheckError &H80040202, "Find(""NOWHERE"")"
Set x = fs.Parent
CheckError &H80040102, "fs.Parent"
On Error Goto 0

n = 0
For Each b In fs.Blocks
    n = n + 1
    WScript.Echo b.Name
Next
Check n, fs.Blocks.Count, "For Each over the blocks"

Set section = fs.Blocks.Block("SECTION")
Check section.IsBlockContainer, True, "SECTION holds blocks"
Check section.Blocks.Count, 2, "SECTION's blocks"
Check section.Blocks(2).Parent.Name, "SECTION", "parent of SECTION's second block"
Set htr = section.Blocks.Block("HTR")
Check htr.IsBlockContainer, False, "HTR holds no blocks"
Check htr.Blocks.Count, 0, "HTR's blocks"
Check htr.Variables.Variable("DUTY").Name, "SECTION.HTR.DUTY", "HTR duty"
Check htr.Variables.Variable("DUTY").Parent.Name, "HTR", "HTR duty's parent"
Check section.Variables.Variable("LOAD").Parent.Name, "SECTION", "LOAD's parent"
Check section.Equations.Equation("LOADEQ").Name, "SECTION.LOADEQ", "LOADEQ"
Check section.Equations.Equation("LOADEQ").Parent.Name, "SECTION", "LOADEQ's parent"

For Each p In fs.Blocks.Block("MIX").Ports
    WScript.Echo p.Name, p.Direction, p.Stream, p.Variables.Count
Next
For Each v In fs.Blocks.Block("FEED").Variables
    WScript.Echo v.Name, v.Value, v.UOM
Next
Check Sim.Flowsheet.Blocks.Block("FEED").Simulation.Flowsheet.Blocks.Count, 4, "back to the simulation"

Done
