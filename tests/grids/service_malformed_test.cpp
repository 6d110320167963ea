// Grid members given arguments no client should send: references to nothing, names holding a NUL and
// arrays whose descriptor does not match their elements. Each is refused and changes nothing.
#include "malformed_args.h"
#include "service_support.h"

namespace {

using namespace grid_test;

using nuvtest::LyingArray;
using nuvtest::NullReference;
using nuvtest::WithNul;

TEST_F(GridTest, EditsWithAReferenceToNothingAreRefusedAndChangeNothing) {
    CComPtr<INUVGridService> parameters = Grid("TANK", MemberKind::Parameters);
    CComPtr<INUVGridService> variables = Grid("TANK", MemberKind::Variables);
    ASSERT_TRUE(parameters && variables);
    ASSERT_EQ(parameters->Prepare(), S_OK);
    ASSERT_EQ(variables->Prepare(), S_OK);
    const CComVariant before = Matrix(parameters, {"NAME", "VALUE", "UOM"});
    const CComVariant variablesBefore = Matrix(variables, {"NAME", "VALUE"});
    for (VARTYPE vt : {VT_R8, VT_I4, VT_BSTR, VT_BOOL, VT_I2, VT_DISPATCH, VT_VARIANT}) {
        SCOPED_TRACE(vt);
        const CComVariant nothing = NullReference(vt);
        for (LONG row = 1; row <= 3; ++row) {
            EXPECT_TRUE(FAILED(parameters->SetAttr(CComBSTR("Value"), nothing, row)));
            EXPECT_TRUE(FAILED(parameters->SetAttr(CComBSTR("UOM"), nothing, row)));
            EXPECT_TRUE(FAILED(variables->SetAttr(CComBSTR("Value"), nothing, row)));
            EXPECT_TRUE(FAILED(variables->SetAttr(CComBSTR("Name"), nothing, row)));
            EXPECT_TRUE(FAILED(variables->SetAttr(CComBSTR("Number"), nothing, row)));
        }
        CComVariant out;
        EXPECT_TRUE(FAILED(variables->GetIndexPositions(nothing, &out)));
        EXPECT_TRUE(FAILED(variables->SetSortKeys(nothing, nothing)));
    }
    EXPECT_EQ(Column(Matrix(parameters, {"NAME", "VALUE", "UOM"}), 2), Column(before, 2));
    EXPECT_EQ(Column(Matrix(parameters, {"NAME", "VALUE", "UOM"}), 3), Column(before, 3));
    EXPECT_EQ(Column(Matrix(variables, {"NAME", "VALUE"}), 1), Column(variablesBefore, 1));
    EXPECT_EQ(Column(Matrix(variables, {"NAME", "VALUE"}), 2), Column(variablesBefore, 2));
}

TEST_F(GridTest, NamesHoldingANulFindNothingAndEditNothing) {
    CComPtr<INUVGridService> parameters = Grid("TANK", MemberKind::Parameters);
    CComPtr<INUVGridService> variables = Grid("TANK", MemberKind::Variables);
    ASSERT_EQ(parameters->Prepare(), S_OK);
    ASSERT_EQ(variables->Prepare(), S_OK);
    CComPtr<INUVObject> found;
    EXPECT_TRUE(FAILED(parameters->Find(WithNul("RATE", "x"), &found)));
    EXPECT_TRUE(FAILED(variables->Find(WithNul("TANK.LEVEL", ".x"), &found)));
    EXPECT_EQ(found, nullptr);
    EXPECT_TRUE(FAILED(parameters->SetAttr(WithNul("VALUE", "x"), CComVariant(99.0), 1)));
    EXPECT_TRUE(FAILED(variables->SetAttr(WithNul("VALUE", "x"), CComVariant(99.0), 1)));
    CComVariant name;
    name.vt = VT_BSTR;
    name.bstrVal = WithNul("TANK.VOLUME", "x").Detach();
    EXPECT_TRUE(FAILED(variables->SetAttr(CComBSTR("NAME"), name, 1)));
    EXPECT_EQ(Column(Matrix(parameters, {"NAME", "VALUE"}), 2), (std::vector<std::string>{"12.5", "7", "0.5"}));
    EXPECT_EQ(Column(Matrix(variables, {"NAME", "VALUE"}), 1), (std::vector<std::string>{"TANK.LEVEL", "TANK.VOLUME", "TANK.TEMP"}));
}

TEST_F(GridTest, ArraysWhoseElementsDoNotMatchTheirTypeAreRefused) {
    CComPtr<INUVGridService> variables = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(variables->Prepare(), S_OK);
    const struct {
        ULONG size;
        VARTYPE vt;
    } lies[] = {{4, VT_VARIANT}, {2, VT_BSTR}, {2, VT_I4}, {1, VT_I2}, {16, VT_I4}};
    for (const auto& lie : lies) {
        SCOPED_TRACE(lie.vt);
        LyingArray array(lie.size, LyingArray::OfType{lie.vt});
        ASSERT_TRUE(array);
        CComVariant out;
        EXPECT_TRUE(FAILED(variables->GetAttributes(array.Lent(), 1, 0, &out)));
        EXPECT_TRUE(FAILED(variables->GetIndexPositions(array.Lent(), &out)));
        EXPECT_TRUE(FAILED(variables->GetPositionIndices(array.Lent(), &out)));
        EXPECT_TRUE(FAILED(variables->SetSortKeys(array.Lent(), array.Lent())));
        EXPECT_TRUE(FAILED(variables->SetQueryStrings(array.Lent())));
    }
}

}  // namespace
