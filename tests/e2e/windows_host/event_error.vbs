' An error inside an event procedure stops the script, as one outside it does: the first event's error is
' the last thing the script does.
Option Explicit
Dim heard : heard = 0

Sub Msgs_OnNewLine(text)
    heard = heard + 1
    WScript.Echo "heard " & heard
    Err.Raise 1000 + heard, "event_error.vbs", "the procedure fails on event " & heard
End Sub

WScript.ConnectObject Sim.GetService("NUVSimulationMsgs"), "Msgs_"
' The engine writes a line for each model it cannot read; the script's own handling covers its own calls,
' not the event procedure.
On Error Resume Next
Sim.AddSimulation "no-such-file.model"
Sim.AddSimulation "no-such-file.model"
On Error Goto 0
WScript.Echo "the script ran on"
