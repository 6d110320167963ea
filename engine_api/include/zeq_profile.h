// A variable's recorded history: (time, value) pairs in time order. The class is defined and exported by
// the system library; the engine defines the same members as weak symbols so that it links on its own, and
// defines GetHistory.
#pragma once
#include <vector>

struct ProfileItem {
    double time = 0;
    double value = 0;
    ProfileItem() = default;
    ProfileItem(const ProfileItem&) = default;
    ProfileItem(ProfileItem&&) = default;
    ProfileItem& operator=(const ProfileItem& other);
    ProfileItem& operator=(ProfileItem&& other);
};

class VarProfile {
public:
    VarProfile();
    VarProfile(const VarProfile& other);
    VarProfile& operator=(const VarProfile& other);
    bool Active() const;
    void SetActive(bool active);

    // Samples the history at n times (linear between items, held constant outside them). 0 on success,
    // E_INVALIDARG-like negative for bad arguments, 1 (S_FALSE) for an empty history (values untouched).
    static int GetHistory(const VarProfile* profile, int n, const double* times, double* values);

    // Engine side: appends an item (time order kept by the caller).
    void Record(double time, double value);
    const std::vector<ProfileItem>& Items() const { return items_; }

private:
    bool active_;
    std::vector<ProfileItem> items_;
};
