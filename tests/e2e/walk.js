// Walks the example plant by position, by name and with an Enumerator, as walk.nuv does, in JScript.
var failures = 0;

function check(actual, expected, what) {
    if (actual !== expected) {
        failures++;
        WScript.Echo("FAIL " + what + ": got " + actual + ", expected " + expected);
    }
}

// Runs the call, which must fail with this number (an HRESULT, as the platform reports it).
function checkError(number, what, call) {
    try {
        call();
        failures++;
        WScript.Echo("FAIL " + what + ": no error");
    } catch (e) {
        if ((e.number >>> 0) !== number) {
            failures++;
            WScript.Echo("FAIL " + what + ": error 0x" + (e.number >>> 0).toString(16) + " (" + e.description + ")");
        } else {
            WScript.Echo(what + ": " + e.description);
        }
    }
}

var fs = Simulation.Flowsheet;
check(fs.Name, "", "flowsheet name");
check(fs.IsBlockContainer, true, "flowsheet holds blocks");
check(fs.Blocks.Count, 4, "top-level blocks");
check(fs.Blocks.Item(1).Name, "FEED", "first block");
check(fs.Blocks.Block("prod").Name, "PROD", "block by name, any case");
check(fs.Blocks.Block(3.0).Name, "SECTION", "block by a number");
check(fs.Blocks.Find("SECTION.SPL").Name, "SPL", "block by path");
checkError(0x80040201, "Item(0)", function () { return fs.Blocks.Item(0); });
checkError(0x80040201, "Item(5)", function () { return fs.Blocks.Item(5); });
checkError(0x80040202, "Find(\"NOWHERE\")", function () { return fs.Blocks.Find("NOWHERE"); });
checkError(0x80040102, "Parent", function () { return fs.Parent; });

// Collections by position: Wine's JScript asks an Enumerator's object for DISPID_NEWENUM as a method
// only, which a property's type information does not answer.
var n = 0;
for (var i = 1; i <= fs.Blocks.Count; i++) {
    n++;
    WScript.Echo(fs.Blocks.Item(i).Name);
}
check(n, 4, "blocks by position");

var section = fs.Blocks.Block("SECTION");
check(section.IsBlockContainer, true, "SECTION holds blocks");
check(section.Blocks.Count, 2, "SECTION's blocks");
check(section.Blocks.Item(2).Parent.Name, "SECTION", "parent of SECTION's second block");
var htr = section.Blocks.Block("HTR");
check(htr.IsBlockContainer, false, "HTR holds no blocks");
check(htr.Blocks.Count, 0, "HTR's blocks");
check(htr.Variables.Variable("DUTY").Name, "SECTION.HTR.DUTY", "HTR duty");
check(section.Equations.Equation("LOADEQ").Parent.Name, "SECTION", "LOADEQ's parent");

var feed = fs.Blocks.Block("FEED").Variables;
for (var j = 1; j <= feed.Count; j++)
    WScript.Echo(feed.Item(j).Name, feed.Item(j).Value, feed.Item(j).UOM);
check(Sim.Flowsheet.Blocks.Block("FEED").Simulation.Flowsheet.Blocks.Count, 4, "back to the simulation");

if (failures > 0) {
    WScript.Echo(failures + " failure(s)");
    WScript.Quit(1);
}
