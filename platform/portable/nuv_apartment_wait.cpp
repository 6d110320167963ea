#include "nuv_apartment_wait.h"

#ifdef _WIN32
#include <objbase.h>
#include <windows.h>
#endif

namespace nuv {

#ifdef _WIN32

bool InSingleThreadedApartment() noexcept {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return false;
    return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

void RunApartmentCalls(unsigned milliseconds) noexcept {
    // The platform's modal wait runs the apartment's calls until a handle is signalled or the time is up;
    // this event never is.
    static const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (never == nullptr) {
        Sleep(milliseconds);
        return;
    }
    DWORD index = 0;
    HANDLE handles[] = {never};
    CoWaitForMultipleHandles(0, milliseconds, 1, handles, &index);
}

#else

bool InSingleThreadedApartment() noexcept { return false; }

void RunApartmentCalls(unsigned) noexcept {}

#endif

}  // namespace nuv
