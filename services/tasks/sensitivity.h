// Sensitivity of dependent variables (and the objective) to independent ones, through the engine.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "task_service.h"

class CoNUVSensitivity : public nuv::TaskServiceBase<CoNUVSensitivity, INUVSensitivity, &CLSID_NUVSensitivity> {
public:
    static constexpr const char* kErrorSource = "NUVSensitivity";
    using ComMap = CComMap<ComEntryChain<INUVSensitivity>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    STDMETHOD(put_DependentVariables)(VARIANT value) override;
    STDMETHOD(get_DependentVariables)(VARIANT* out) override;
    STDMETHOD(get_NumDependentVariables)(INT* out) override;
    STDMETHOD(put_IndependentVariables)(VARIANT value) override;
    STDMETHOD(get_IndependentVariables)(VARIANT* out) override;
    STDMETHOD(get_NumIndependentVariables)(INT* out) override;
    STDMETHOD(put_Objective)(BSTR value) override;
    STDMETHOD(get_Objective)(BSTR* out) override;
    STDMETHOD(Calculate)(VARIANT* differentiable, VARIANT* results) override;

private:
    // Flowsheet indices of a variable list and the unit conversion value of each.
    struct VariableList {
        std::vector<int> indices;
        std::vector<double> factors;
        // -1 after a repeated independent variable: the list is unusable until it is set again.
        int count = 0;
        void Clear() {
            indices.clear();
            factors.clear();
            count = 0;
        }
        void Append(int index, double factor) {
            indices.push_back(index);
            factors.push_back(factor);
            count = static_cast<int>(indices.size());
        }
    };
    enum class Role { kDependent, kIndependent };

    HRESULT SetList(const VARIANT& value, Role role);
    HRESULT GetList(const VariableList& list, VARIANT* out);
    // The solver scope's path when the scope is a hierarchy, else empty.
    std::string ScopePrefix();
    // The flowsheet index of a variable named by a client, qualified by the scope prefix; 0 when there is none.
    int QualifyVariableName(const std::string& prefix, const std::string& name);
    // Checks the variable's spec kind against its role and gives its unit conversion value.
    HRESULT Examine(int index, Role role, double* factor);

    std::recursive_mutex m_lock;
    VariableList m_dependent;
    VariableList m_independent;
    std::string m_objective;
};
