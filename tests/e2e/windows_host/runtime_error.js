// An error at run time: a name the script never defined.
WScript.Echo("before");
var blocks = Sim.Flowsheet.Blocks;
var count = blocks.Count + undefinedName;
WScript.Echo("after");
