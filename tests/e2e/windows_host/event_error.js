// An error inside an event procedure stops the script, as one outside it does.
var heard = 0;

function Msgs_OnNewLine(text) {
    heard++;
    WScript.Echo("heard " + heard);
    throw new Error("the procedure fails on event " + heard);
}

WScript.ConnectObject(Sim.GetService("NUVSimulationMsgs"), "Msgs_");
try { Sim.AddSimulation("no-such-file.model"); } catch (e) {}
try { Sim.AddSimulation("no-such-file.model"); } catch (e) {}
WScript.Echo("the script ran on");
