#include "system_messages.h"

#include <algorithm>
#include <cctype>

#include "nuv_text.h"

namespace host {

namespace {

// The library's description for a failure code it has no message of its own for.
constexpr char kLibraryUnspecified[] = "Unspecified Error";

// Equal but for letter case and a final full stop.
bool SameText(std::string a, std::string b) {
    for (std::string* s : {&a, &b}) {
        if (!s->empty() && s->back() == '.') s->pop_back();
        std::transform(s->begin(), s->end(), s->begin(), [](unsigned char c) { return std::tolower(c); });
    }
    return a == b;
}

struct Message {
    HRESULT hr;
    const char* text;
};

// The texts the platform's message tables give for these codes: the system's own on Linux, and on Windows
// for a code its tables lack (wine's lack some of the dispatch codes').
constexpr Message kMessages[] = {
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {static_cast<HRESULT>(0x8000000AL), "The data necessary to complete this operation is not yet available."},
    {static_cast<HRESULT>(0x8000000BL), "The operation attempted to access data outside the valid range"},
    {static_cast<HRESULT>(0x80070002L), "The system cannot find the file specified."},
    {static_cast<HRESULT>(0x80070003L), "The system cannot find the path specified."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {static_cast<HRESULT>(0x80070008L), "Not enough memory resources are available to process this command."},
    {static_cast<HRESULT>(0x8007000DL), "The data is invalid."},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {static_cast<HRESULT>(0x80070032L), "The request is not supported."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {static_cast<HRESULT>(0x8007007AL), "The data area passed to a system call is too small."},
    {static_cast<HRESULT>(0x800700B7L), "Cannot create a file when that file already exists."},
    {static_cast<HRESULT>(0x80070490L), "Element not found."},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_NONAMEDARGS, "No named arguments."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_BADINDEX, "Invalid index."},
    {DISP_E_UNKNOWNLCID, "Unknown language."},
    {DISP_E_ARRAYISLOCKED, "Memory is locked."},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional."},
    {DISP_E_BADCALLEE, "Invalid callee."},
    {DISP_E_NOTACOLLECTION, "Does not support a collection."},
    {DISP_E_DIVBYZERO, "Division by zero."},
    {TYPE_E_REGISTRYACCESS, "Error accessing the OLE registry."},
    {TYPE_E_LIBNOTREGISTERED, "Library not registered."},
    {TYPE_E_ELEMENTNOTFOUND, "Element not found."},
    {TYPE_E_CANTLOADLIBRARY, "Error loading type library/DLL."},
    {RPC_E_CHANGED_MODE, "Cannot change thread mode after it is set."},
    {static_cast<HRESULT>(0x8001010EL),
     "The application called an interface that was marshalled for a different thread."},
};

std::string FromTable(HRESULT hr) {
    const auto it = std::find_if(std::begin(kMessages), std::end(kMessages), [hr](const Message& m) { return m.hr == hr; });
    return it == std::end(kMessages) ? std::string() : it->text;
}

}  // namespace

std::string SystemMessage(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_ITF) return {};
    std::string text;
#ifdef _WIN32
    wchar_t buffer[512];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(hr), 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
    if (n != 0) text = nuv::to_utf8(reinterpret_cast<const OLECHAR*>(buffer));
#endif
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text.empty() ? FromTable(hr) : text;
}

std::string WithSystemMessage(HRESULT hr, const std::string& description) {
    if (!description.empty() && description != kLibraryUnspecified) return description;
    const std::string system = SystemMessage(hr);
    if (description.empty()) return system.empty() ? "Unspecified error" : system;
    if (system.empty() || SameText(system, description)) return description;
    return description + " (" + system + ")";
}

}  // namespace host
