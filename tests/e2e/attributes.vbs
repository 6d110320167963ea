' Attribute matrices of the feed block, as attributes.nuv checks them: windows, formats, unknown names,
' writing from arrays built here and matching rows by name. GetAttributes answers [row, attribute];
' SetAttributes takes [attribute, row].
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

Dim vars, m, one, p, vals, x
Set vars = Sim.Flowsheet.Blocks.Block("FEED").Variables
m = vars.GetAttributes(Array("NAME", "VALUE", "VALUE%s", "SPEC", "SPEC%s", "NOSUCH"))
Check UBound(m, 1), 2, "rows"
Check UBound(m, 2), 6, "attributes"
Check m(1, 1), "FEED.F", "name of the first row"
Check m(1, 2), 3600, "value of the first row"
Check m(2, 3), "25", "value of the second row as text"
Check m(1, 4), 1, "spec kind of the first row"
Check m(1, 5), "CONST", "spec kind as text"
Check m(2, 6), Empty, "an unknown attribute"
one = vars.GetAttributes(Array("NAME"), 2, 99)
Check UBound(one, 1) - LBound(one, 1) + 1, 1, "a window past the end keeps the rows there are"
Check one(1, 1), "FEED.T", "the window's row"

On Error Resume Next
x = vars.GetAttributes(Array("NAME"), 3)
CheckError &H80040201, "a first row past the end"
' A bare E_INVALIDARG (no error information) is VBScript's own error 5.
x = vars.GetAttributes("NAME")
CheckError 5, "names not in an array"
On Error Goto 0

ReDim vals(1, 1)
vals(0, 0) = 1800 : vals(0, 1) = 20     ' VALUE of F and T
vals(1, 0) = 0 : vals(1, 1) = -10       ' LOWER of F and T
vars.SetAttributes Array("VALUE", "LOWER"), vals
Check vars.Variable("F").Value, 1800, "F written from the matrix"
Check vars.Variable("T").Value, 20, "T written from the matrix"
Check vars.Variable("T").LowerBound, -10, "T's lower bound"

' With a NAME column rows find their variables; an unknown name is skipped.
ReDim vals(1, 2)
vals(0, 0) = "T" : vals(0, 1) = "GHOST" : vals(0, 2) = "F"
vals(1, 0) = 30 : vals(1, 1) = 1 : vals(1, 2) = 3600
vars.SetAttributes Array("NAME", "VALUE"), vals
Check vars.Variable("T").Value, 30, "T found by name"
Check vars.Variable("F").Value, 3600, "F found by name"

On Error Resume Next
ReDim vals(1, 0)
vals(0, 0) = "GHOST" : vals(1, 0) = 1
vars.SetAttributes Array("NAME", "VALUE"), vals
CheckError &H80040202, "no row found by name"
ReDim vals(0, 0)
vals(0, 0) = 1
vars.SetAttributes Array("VALUE", "LOWER"), vals
CheckError &H80040204, "fewer attributes in the values than named"
ReDim vals(0, 2)
vals(0, 0) = 1 : vals(0, 1) = 2 : vals(0, 2) = 3
vars.SetAttributes Array("VALUE"), vals
CheckError &H80040205, "more rows than variables"
ReDim vals(0, 0)
vals(0, 0) = "X"
' A bare E_NOTIMPL (no error information) is VBScript's own error 445.
Sim.Flowsheet.Blocks.SetAttributes Array("NAME"), vals
CheckError 445, "blocks take no attributes"
x = Sim.Flowsheet.Blocks.GetAttributes(Array("NAME"))
CheckError &H80004001, "blocks give no attributes"
Set x = vars.GetService("NoSuchService")
CheckError &H80040103, "an unknown service"
On Error Goto 0
' The helper service comes back as IUnknown; Wine's VBScript calls no member of such a value, so its
' Name2Index is checked by attributes.nuv only.

p = Sim.Flowsheet.Blocks.Block("SECTION").Blocks.Block("HTR").Parameters.GetAttributes(Array("NAME", "VALUE", "UOM"))
Check p(1, 1), "PDROP", "first parameter"
Check p(1, 3), "bar", "its unit"
Done
