' A statement the VBScript engine cannot compile: the host names its line and column and shows the line.
Option Explicit
WScript.Echo "not a word of this script runs"
If Then
