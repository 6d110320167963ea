' An event procedure that takes other parameters than its event has cannot be called: that stops the
' script as an error inside it does, and says which procedure.
Option Explicit

Sub Msgs_OnNewLine()
    WScript.Echo "called without the line"
End Sub

WScript.ConnectObject Sim.GetService("NUVSimulationMsgs"), "Msgs_"
On Error Resume Next
Sim.AddSimulation "no-such-file.model"
On Error Goto 0
WScript.Echo "the script ran on"
