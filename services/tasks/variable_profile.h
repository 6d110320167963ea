// The recorded history of one flowsheet variable, sampled at evenly spaced times.
#pragma once
#include "task_service.h"

class CoNUVVariableProfile
    : public nuv::TaskServiceBase<CoNUVVariableProfile, INUVVariableProfile, &CLSID_NUVVariableProfile> {
public:
    static constexpr const char* kErrorSource = "NUVVariableProfile";
    using ComMap = CComMap<ComEntryChain<INUVVariableProfile>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    STDMETHOD(GetProfileByIndex)(LONG varIndex, DOUBLE startTime, DOUBLE endTime, DOUBLE interval,
                                 VARIANT* values) override;
    STDMETHOD(GetProfileByName)(BSTR varName, DOUBLE startTime, DOUBLE endTime, DOUBLE interval,
                                VARIANT* values) override;
};

namespace nuv {

// The number of samples from start to end (both included when end falls on a step), or 0 when the range
// or the interval cannot be sampled.
long ProfileSampleCount(double start, double end, double interval);

}  // namespace nuv
