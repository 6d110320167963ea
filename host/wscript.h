// The WScript object that scripts written for the command-line script host expect, offered to the script
// engines by the Windows host: Echo, Arguments (Item, Count, Length, For Each), Quit, ScriptName and
// ScriptFullName. Late-bound only: its IDispatch has no type information.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace host {

struct WScriptSetup {
    std::ostream* out = nullptr;            // where Echo writes, as UTF-8 lines
    std::wstring script_path;               // the script file as given on the command line
    std::vector<std::wstring> arguments;    // the script's own command-line arguments
    // Called by Quit with its exit code (0 when none was given); the host stops the script.
    std::function<void(int)> quit;
};

// A new WScript object with one reference for the caller.
HRESULT CreateWScript(WScriptSetup setup, IDispatch** object);

// A value as Echo prints it (True/False for booleans, "" for Empty, "Null" for Null); fails for a value
// with no text form (an object without a default value, an array).
HRESULT EchoText(const VARIANT& value, std::wstring& text);

// UTF-16 to UTF-8.
std::string Utf8(const wchar_t* text, size_t length);

}  // namespace host
