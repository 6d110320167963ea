// The profile value class the engine shares with the system: the system library defines and exports its
// members, which take the place of the engine's own weak ones.
#pragma GCC visibility push(default)
#include "zeq_profile.h"
#pragma GCC visibility pop

ProfileItem& ProfileItem::operator=(const ProfileItem& other) {
    time = other.time;
    value = other.value;
    return *this;
}

ProfileItem& ProfileItem::operator=(ProfileItem&& other) {
    time = other.time;
    value = other.value;
    return *this;
}

VarProfile::VarProfile() : active_(false) {}

VarProfile::VarProfile(const VarProfile& other) : active_(other.active_), items_(other.items_) {}

VarProfile& VarProfile::operator=(const VarProfile& other) {
    if (this != &other) {
        active_ = other.active_;
        items_ = other.items_;
    }
    return *this;
}

bool VarProfile::Active() const { return active_; }

void VarProfile::SetActive(bool active) { active_ = active; }
