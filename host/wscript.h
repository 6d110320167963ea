// The WScript object that scripts written for the command-line script host expect, offered to the script
// engines by the Windows host: Echo, Arguments (Item, Count, Length, For Each), Quit, ScriptName,
// ScriptFullName, and ConnectObject / DisconnectObject, which deliver an object's events to the script's
// procedures named PREFIX & event name. Late-bound only: its IDispatch has no type information.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace host {

// The event connections the script made. Each event calls the script's procedure PREFIX & event name,
// when it has one; a procedure that fails stops the delivery of every event and is handed to `failed`
// (which stops the script). The host drops what is left before it closes the engine.
class EventConnections {
public:
    // `script` answers the script's procedures (the engine's script dispatch) as a new reference;
    // `failed` hears of a procedure that failed: its name and what its call answered.
    EventConnections(std::function<IDispatch*()> script, std::function<void(const std::wstring&, HRESULT)> failed);
    EventConnections(const EventConnections&) = delete;
    EventConnections& operator=(const EventConnections&) = delete;
    ~EventConnections();
    HRESULT Connect(IUnknown* source, const std::wstring& prefix);
    HRESULT Disconnect(IUnknown* source);
    // No event reaches the script any more, from a source it connected or one that still holds a sink.
    void Clear();

    struct Delivery;  // shared by the connections and their sinks, which a source may hold on to

private:
    struct Connection;
    std::shared_ptr<Delivery> delivery_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

struct WScriptSetup {
    std::ostream* out = nullptr;            // where Echo writes, as UTF-8 lines
    std::wstring script_path;               // the script file as given on the command line
    std::vector<std::wstring> arguments;    // the script's own command-line arguments
    // Called by Quit with its exit code (0 when none was given); the host stops the script.
    std::function<void(int)> quit;
    std::shared_ptr<EventConnections> events;
};

// A new WScript object with one reference for the caller.
HRESULT CreateWScript(WScriptSetup setup, IDispatch** object);

// A value as Echo prints it (True/False for booleans, "" for Empty, "Null" for Null); fails for a value
// with no text form (an object without a default value, an array).
HRESULT EchoText(const VARIANT& value, std::wstring& text);

}  // namespace host
