' Variable properties read and written, with the engine's refusals, as variables.nuv checks them.
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

Dim t, u, f, x
Set t = Sim.Flowsheet.Blocks.Block("FEED").Variables.Variable("T")
Check t.UOM, "C", "unit"
Check t.PhysicalType, "TEMPERATURE", "physical type"
Check t.Description, "Feed temperature", "description"
Check t.Spec, 1, "spec kind"
t.Value = 40
Check t.Value, 40, "value put"
Check t.Modified("VALUE"), True, "modified after the put"
t.Modified("VALUE") = False
Check t.Modified("VALUE"), False, "modified flag cleared"

On Error Resume Next
x = t.Modified("COLOUR")
CheckError &H80070057, "an unknown attribute's modified flag"
On Error Goto 0

t.UOM = "K"
Check t.Value, 313.15, "value in kelvin"
On Error Resume Next
t.UOM = "kg"
CheckError &H80040623, "a unit of another physical type"
On Error Goto 0
t.Description = "Warmer feed"
Check t.Description, "Warmer feed", "description put"
t.Marked = True
Check t.Marked, True, "marked"
t.Spec = 0
Check t.Spec, 0, "spec kind put"
On Error Resume Next
t.Spec = 99
CheckError &H80004005, "an unknown spec kind"
On Error Goto 0

' The units come as an array of texts, which Wine's VBScript neither bounds nor walks (it takes arrays
' of VARIANTs only): the count is checked by variables.nuv.
u = t.UOMList
Check VarType(u), vbArray + vbString, "units of temperature as an array of texts"

Set f = Sim.Flowsheet.Variables.Variable("SECTION.SPL.FRAC")
Check f.Parent.Name, "SPL", "a variable's block"
Check f.Parent.Parent.Name, "SECTION", "and its parent"
f.LowerBound = 0.1
Check f.LowerBound, 0.1, "lower bound put"
On Error Resume Next
Set x = f.GetService("anything")
CheckError &H80040103, "an unknown service of a variable"
On Error Goto 0
Done
