' Arguments outside ASCII arrive whole, as the user typed them.
WScript.Echo WScript.Arguments.Count
For Each a In WScript.Arguments
    WScript.Echo "[" & a & "]"
Next
WScript.Echo Sim.Flowsheet.Blocks.Count & " blocks"
