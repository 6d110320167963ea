// Drives a variable grid and a parameter grid through a sequence of client calls decoded from the input:
// query strings, sort keys and orders, row edits by name and number, attribute windows, index and position
// lists, finds and items. Every call must fail cleanly or succeed with a result that agrees with Count.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "block.h"
#include "class_factory.h"
#include "equation.h"
#include "service/grid_service.h"
#include "variable.h"
#include "zeq_testing.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool Done() const { return p_ >= end_; }
    uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
    // A text of up to 31 bytes.
    std::string Text() {
        size_t n = Byte() % 32;
        std::string s;
        while (n-- && p_ < end_) s.push_back(static_cast<char>(*p_++));
        return s;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

CComVariant Array(VARTYPE vt, ULONG n) {
    SAFEARRAYBOUND bound{n, 0};
    CComVariant v;
    v.parray = SafeArrayCreate(vt, 1, &bound);
    v.vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    return v;
}

CComVariant Texts(Input& in) {
    const ULONG n = in.Byte() % 5;
    CComVariant v = Array(VT_VARIANT, n);
    for (LONG i = 0; i < static_cast<LONG>(n); ++i) {
        CComVariant t(nuv::to_utf16(in.Text()).c_str());
        SafeArrayPutElement(v.parray, &i, &t);
    }
    return v;
}

CComVariant Integers(Input& in) {
    const ULONG n = in.Byte() % 6;
    CComVariant v = Array(VT_I4, n);
    for (LONG i = 0; i < static_cast<LONG>(n); ++i) {
        LONG x = static_cast<int8_t>(in.Byte());
        SafeArrayPutElement(v.parray, &i, &x);
    }
    return v;
}

CComVariant Value(Input& in) {
    CComVariant v;
    switch (in.Byte() % 5) {
        case 0: v.vt = VT_NULL; break;
        case 1: v = CComVariant(static_cast<LONG>(static_cast<int8_t>(in.Byte()))); break;
        case 2: v = CComVariant(static_cast<double>(static_cast<int8_t>(in.Byte())) / 4); break;
        case 3: v = CComVariant(nuv::to_utf16(in.Text()).c_str()); break;
        default: v = Integers(in); break;
    }
    return v;
}

struct World {
    World() {
        nuv::SetVariableWrapperMaker(&CoNUVVariable::Create);
        nuv::SetEquationWrapperMaker(&CoNUVEquation::Create);
        zeq_set_wrapper_factory(&NUVClassFactory_QueryCreateVarWrapper, &NUVClassFactory_QueryCreateEqnWrapper);
        zeq::testing::ModelBuilder m;
        m.Block("W");
        for (int i = 1; i <= 9; ++i) m.Var("V" + std::to_string(i), (i * 7) % 4, i % 2);
        m.Block("T").Var("L", 1).Param("A", zeq::Value::Real(1.5)).Param("B", zeq::Value::Text("x"));
        m.Param("C", zeq::Value::Int(2)).Port("P", "OUT", {"L"});
        m.Tag("TAG1", "W.V3");
        sim = m.Create();
        NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&simulation));
        simulation->get_Flowsheet(&flowsheet);
    }
    CComPtr<INUVGridService> Grid(const char* block, MemberKind kind) {
        CComPtr<INUVBlockCollection> blocks;
        flowsheet->get_Blocks(&blocks);
        CComPtr<INUVBlock> b;
        blocks->get_Block(CComVariant(nuv::to_utf16(block).c_str()), &b);
        CoNUVBlock* owner = nuv::ImplementationOf<CoNUVBlock>(b);
        CComPtr<INUVGridService> grid;
        nuv::grid::MakeGrid(owner, kind, nullptr, 0, IID_INUVGridService, reinterpret_cast<void**>(&grid));
        return grid;
    }
    std::unique_ptr<zeq::Simulation> sim;
    CComPtr<INUVSimulation2> simulation;
    CComPtr<INUVBlock> flowsheet;
};

void Check(bool ok) {
    if (!ok) std::abort();
}

void Drive(INUVGridService* grid, Input& in) {
    for (int step = 0; step < 64 && !in.Done(); ++step) {
        CComVariant out;
        switch (in.Byte() % 10) {
            case 0: grid->SetQueryStrings(Texts(in)); break;
            case 1: {
                CComVariant keys = Texts(in);
                const ULONG n = in.Byte() % 4;
                CComVariant orders = Array(VT_BOOL, n);
                for (LONG i = 0; i < static_cast<LONG>(n); ++i) {
                    SHORT b = in.Byte() % 2 ? VARIANT_TRUE : VARIANT_FALSE;
                    SafeArrayPutElement(orders.parray, &i, &b);
                }
                grid->SetSortKeys(keys, orders);
                break;
            }
            case 2: grid->Prepare(); break;
            case 3: grid->Sort(); break;
            case 4: {
                const LONG first = static_cast<int8_t>(in.Byte()) % 12, count = static_cast<int8_t>(in.Byte()) % 12;
                LONG rows = 0;
                grid->get_Count(&rows);
                if (grid->GetAttributes(Texts(in), first, count, &out) == S_OK) {
                    LONG lo = 0, hi = -1;
                    SafeArrayGetLBound(out.parray, 1, &lo);
                    SafeArrayGetUBound(out.parray, 1, &hi);
                    const LONG expected = count <= 0 || count > rows - first + 1 ? rows - first + 1 : count;
                    Check(first >= 1 && first <= rows && hi - lo + 1 == expected);
                }
                break;
            }
            case 5: {
                const std::string name = in.Text();
                CComVariant value = Value(in);
                grid->SetAttr(CComBSTR(nuv::to_utf16(name).c_str()), value, static_cast<int8_t>(in.Byte()) % 12);
                break;
            }
            case 6: grid->GetIndexPositions(Integers(in), &out); break;
            case 7: grid->GetPositionIndices(Integers(in), &out); break;
            case 8: {
                CComPtr<INUVObject> item;
                grid->Find(CComBSTR(nuv::to_utf16(in.Text()).c_str()), &item);
                break;
            }
            default: {
                CComPtr<INUVObject> item;
                LONG rows = 0;
                grid->get_Count(&rows);
                const LONG index = static_cast<int8_t>(in.Byte()) % 12;
                const HRESULT hr = grid->get_Item(index, &item);
                Check(index >= 1 && index <= rows ? true : hr == nuv::kIndexOutOfRange);
                break;
            }
        }
        SetErrorInfo(0, nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World();
    Input in(data, size);
    const uint8_t which = in.Byte() % 3;
    CComPtr<INUVGridService> grid = which == 0   ? world->Grid("W", MemberKind::Variables)
                                    : which == 1 ? world->Grid("T", MemberKind::Parameters)
                                                 : world->Grid("", MemberKind::Variables);
    if (grid) Drive(grid, in);
    return 0;
}
