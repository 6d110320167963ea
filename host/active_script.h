// Runs script files in the platform's own script engines (VBScript for .vbs, JScript for .js) through
// the Active Scripting interfaces, as the command-line script host does: the simulation is the named item
// `Simulation` (and `Sim`), and `WScript` offers Echo, Arguments and Quit.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace host {

// Runs the script, whose path and arguments are UTF-8. An error the script does not handle, inside an
// event procedure too, stops it and prints
//     SCRIPT:LINE:COLUMN: Error 0x........: source: description
// and the line's text with a caret under the column on `out`. Returns the exit status: the code given to
// WScript.Quit, else 1 when the script stopped on an error or could not start, else 0.
int RunActiveScript(IDispatch* simulation, const std::string& path, const std::vector<std::string>& arguments,
                    std::ostream& out);

}  // namespace host
