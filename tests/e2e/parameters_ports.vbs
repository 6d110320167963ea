' Block parameters and ports with their variables, as parameters_ports.nuv checks them.
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

Dim htr, params, p, x, out, m, spl, n
Set htr = Sim.Flowsheet.Blocks.Block("SECTION.HTR")
Set params = htr.Parameters
Check params.Count, 3, "parameters of HTR"
Check params(1).Name, "PDROP", "first parameter"
Check params.Parameter("passes").Value, 2, "a parameter by name, any case"
Check params.Parameter("PDROP").UOM, "bar", "its unit"
Check params.Parameter("PDROP").Description, "Pressure drop", "its description"
' Units are put as a VARIANT and read as text: one attribute under two dispatch ids.
params.Parameter("PDROP").UOM = "kPa"
Check params.Parameter("PDROP").UOM, "kPa", "unit put"
params.Parameter("PASSES").Upper = 6
Check params.Parameter("PASSES").Upper, 6, "upper limit put"
params.Parameter("PDROP").Value = 0.4
Check params.Parameter("PDROP").Value, 0.4, "value put"

On Error Resume Next
params.Parameter("PDROP").Value = "high"
CheckError &H80070057, "a text for a real parameter"
On Error Goto 0
Check params.Parameter("PDROP").Value, 0.4, "the value stays"

On Error Resume Next
Set x = params(0)
CheckError &H80040201, "params(0)"
Set x = params(4)
CheckError &H80040201, "params(4)"
Set x = params.Parameter("NONE")
CheckError &H80040202, "an unknown parameter"
On Error Goto 0

n = 0
For Each p In params
    n = n + 1
    WScript.Echo p.Name, p.Value
Next
Check n, 3, "For Each over the parameters"

Set out = htr.Ports.Port("OUT")
Check out.Direction, 2, "OUT's direction"
Check out.Stream, "S3", "OUT's stream"
Check out.Variables.Count, 2, "OUT's variables"
Check out.Variables(1).Name, "SECTION.HTR.F", "OUT's first variable"
Check out.Variables.Variable("T").Name, "SECTION.HTR.T", "OUT's variable by name"

On Error Resume Next
Set x = out.Variables.Find("DUTY")
CheckError &H80040202, "a variable not on the port"
Set x = out.Variables(3)
CheckError &H80040201, "out.Variables(3)"
On Error Goto 0

m = out.Variables.GetAttributes(Array("NAME", "UOM"))
Check m(2, 1), "SECTION.HTR.T", "the port's second variable in a matrix"
Check htr.Ports.Port(2).Parent.Name, "HTR", "a port's parent"
Set spl = Sim.Flowsheet.Blocks.Block("SECTION.SPL")
Check spl.Ports.Count, 3, "SPL's ports"
Check spl.Ports.Port("OUT2").Variables(2).Name, "SECTION.SPL.T2", "OUT2's second variable"
Done
