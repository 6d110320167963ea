// VarProfile's members (weak: the system library exports the same ones) and the engine's GetHistory.
#include <algorithm>

#include "zeq_profile.h"
#include "engine_lock.h"

#ifdef _WIN32
// A DLL binds its own definitions: each binary keeps its copy of these (identical) members.
#define ZEQ_WEAK
#else
#define ZEQ_WEAK __attribute__((weak))
#endif

ZEQ_WEAK ProfileItem& ProfileItem::operator=(const ProfileItem& other) {
    time = other.time;
    value = other.value;
    return *this;
}
ZEQ_WEAK ProfileItem& ProfileItem::operator=(ProfileItem&& other) {
    time = other.time;
    value = other.value;
    return *this;
}
ZEQ_WEAK VarProfile::VarProfile() : active_(false) {}
ZEQ_WEAK VarProfile::VarProfile(const VarProfile& other) : active_(other.active_), items_(other.items_) {}
ZEQ_WEAK VarProfile& VarProfile::operator=(const VarProfile& other) {
    if (this != &other) {
        active_ = other.active_;
        items_ = other.items_;
    }
    return *this;
}
ZEQ_WEAK bool VarProfile::Active() const { return active_; }
ZEQ_WEAK void VarProfile::SetActive(bool active) { active_ = active; }

void VarProfile::Record(double time, double value) {
    if (!items_.empty() && items_.back().time == time) {
        items_.back().value = value;
        return;
    }
    ProfileItem item;
    item.time = time;
    item.value = value;
    items_.push_back(item);
}

int VarProfile::GetHistory(const VarProfile* profile, int n, const double* times, double* values) {
    zeq::EngineCall call;
    if (!profile || n < 0 || (n > 0 && (!times || !values))) return static_cast<int>(0x80070057);
    const auto& items = profile->items_;
    if (items.empty()) return 1;
    for (int i = 0; i < n; ++i) {
        double t = times[i];
        auto it = std::lower_bound(items.begin(), items.end(), t,
                                   [](const ProfileItem& a, double x) { return a.time < x; });
        if (it == items.begin()) {
            values[i] = items.front().value;
        } else if (it == items.end()) {
            values[i] = items.back().value;
        } else {
            const ProfileItem& b = *it;
            const ProfileItem& a = *(it - 1);
            double w = b.time > a.time ? (t - a.time) / (b.time - a.time) : 1.0;
            values[i] = a.value + w * (b.value - a.value);
        }
    }
    return 0;
}
