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

// An Enumerator asks the collection for DISPID_NEWENUM as a method.
var names = [];
for (var e = new Enumerator(fs.Blocks); !e.atEnd(); e.moveNext()) {
    names.push(e.item().Name);
    WScript.Echo(e.item().Name);
}
check(names.join(" "), "FEED MIX SECTION PROD", "Enumerator over the blocks");
for (var i = 1; i <= fs.Blocks.Count; i++)
    check(fs.Blocks.Item(i).Name, names[i - 1], "block " + i + " by position");

var section = fs.Blocks.Block("SECTION");
check(section.IsBlockContainer, true, "SECTION holds blocks");
check(section.Blocks.Count, 2, "SECTION's blocks");
check(section.Blocks.Item(2).Parent.Name, "SECTION", "parent of SECTION's second block");
var htr = section.Blocks.Block("HTR");
check(htr.IsBlockContainer, false, "HTR holds no blocks");
check(htr.Blocks.Count, 0, "HTR's blocks");
check(htr.Variables.Variable("DUTY").Name, "SECTION.HTR.DUTY", "HTR duty");
check(section.Equations.Equation("LOADEQ").Parent.Name, "SECTION", "LOADEQ's parent");

for (var p = new Enumerator(fs.Blocks.Block("MIX").Ports); !p.atEnd(); p.moveNext())
    WScript.Echo(p.item().Name, p.item().Direction, p.item().Stream, p.item().Variables.Count);
var feed = fs.Blocks.Block("FEED").Variables, seen = 0;
for (var v = new Enumerator(feed); !v.atEnd(); v.moveNext()) {
    seen++;
    WScript.Echo(v.item().Name, v.item().Value, v.item().UOM);
}
check(seen, feed.Count, "Enumerator over FEED's variables");
check(Sim.Flowsheet.Blocks.Block("FEED").Simulation.Flowsheet.Blocks.Count, 4, "back to the simulation");

if (failures > 0) {
    WScript.Echo(failures + " failure(s)");
    WScript.Quit(1);
}
