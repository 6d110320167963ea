' An error at run time inside a procedure: the host names the line the engine stopped at and shows it.
Option Explicit
Dim ratio

Sub Divide(a, b)
	ratio = a / b
End Sub

WScript.Echo "before"
Divide 1, 0
WScript.Echo "after"
