#include "grid_tables.h"

#include <array>

namespace nuv::griddef {
namespace {

constexpr int Y = 1;
constexpr int N = 0;
constexpr int kText = ECT_TEXT;
constexpr int kCheck = ECT_CHECKBOX;
constexpr int kCombo = ECT_COMBOBOX;

constexpr ColumnRecord kVariableColumns[] = {
    {"Index", 42, "NUMBER", Y, Y, kText, Y, Y, 0, 12, 0},
    {"Variable", 180, "NAME", Y, Y, kText, Y, Y, 0x1, 13, 1},
    {"Value", 80, "VALUE", Y, N, kText, Y, Y, 0x2, 14, 2},
    {"Units", 80, "UOM", Y, N, kText, Y, Y, 0x400, 16, 12},
    {"Base Units", 80, "BASEUOM", N, N, kText, Y, Y, 0x80000, 194, 12},
    {"Physical Type", 85, "PHYSICAL_TYPE", Y, N, kCombo, Y, Y, 0x100000, 15, 10},
    {"Connection Type", 100, "CONN_TYPE", Y, N, kCombo, Y, Y, -8, 192, 15},
    {"Specification", 80, "SPEC", Y, N, kCombo, Y, Y, 0x100, 17, 3},
    {"Lower Bound", 80, "LOWER", Y, N, kText, Y, Y, 0x4, 18, 2},
    {"Upper Bound", 80, "UPPER", Y, N, kText, Y, Y, 0x8, 19, 2},
    {"Step Bound", 80, "STEP", Y, N, kText, Y, Y, 0x10, 20, 2},
    {"Initial Value", 80, "INITIAL", Y, Y, kText, Y, Y, 0x200, 182, 2},
    {"Change", 80, "CHANGE", Y, Y, kText, Y, Y, 0x20000000, 183, 2},
    {"Internal Scale", 80, "INTSCALE", Y, Y, kText, Y, Y, 0x20, 21, 2},
    {"Solver Scale", 80, "SCALE", Y, N, kText, Y, Y, 0x40, 22, 2},
    {"Soft bound weight", 110, "SBWEIGHT", Y, N, kText, Y, Y, 0x80, 23, 2},
    {"Bound type", 80, "BOUND", Y, N, kCombo, Y, Y, 0x800, 24, 4},
    {"Active bound", 140, "ACTIVE_BOUND", Y, Y, kCombo, Y, Y, 0x10000, 193, 5},
    {"Shadow Price", 80, "SHADOW_PRICE", Y, Y, kText, Y, Y, 0x20000, 25, 2},
    {"Marked", 50, "MARKED", Y, N, kCheck, Y, Y, 0, 26, 6},
    {"Modified", 50, "MODIFIED", Y, Y, kCheck, Y, N, 0x4000, 27, 7},
    {"Quality", 80, "QUALITY", N, N, kCombo, Y, N, 0x40000, 197, 8},
    {"Homo_Param", 80, "HOMO_PARAM", N, N, kCombo, Y, Y, 0x400000, 195, 13},
    {"Homo_Target", 80, "HOMO_TARGET", N, N, kText, Y, Y, 0x800000, 196, 2},
    {"Description", 250, "DESCRIPTION", Y, N, kText, Y, Y, 0x1000000, 184, 1},
    {"Variable Type", 140, "VARIABLE_TYPE", Y, N, kCombo, Y, Y, 0x2000000, 185, 14},
    {"Threshold", 80, "THRESHOLD", Y, N, kText, Y, Y, 0x8000000, 186, 2},
    {"Ramped", 50, "RAMPED", Y, N, kCheck, Y, Y, 0x10000000, 187, 11},
};

constexpr ColumnRecord kPortColumns[] = {
    {"", 6, "NUMBER", Y, Y, kText, N, N, 0, 0, 1},
    {"Port", 95, "NAME", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Stream", 80, "STREAM", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Type", 120, "TYPE", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Direction", 80, "DIRECTION", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Basis", 80, "BASIS", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Phase", 80, "PHASE", Y, Y, kText, Y, Y, 0, 0, 1},
};

constexpr ColumnRecord kParameterColumns[] = {
    {"", 6, "NUMBER", Y, Y, kText, N, N, 0, 0, 1},
    {"Name", 160, "NAME", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Value", 80, "VALUE", Y, N, kText, Y, Y, 0, 0, 2},
    {"Units", 80, "UOM", Y, N, kText, Y, Y, 0, 0, 12},
    {"Read Only", 80, "ACCESS", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Description", 250, "DESCRIPTION", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Base Type", 100, "TYPE", Y, Y, kText, Y, Y, 0, 0, 1},
};

constexpr ColumnRecord kEquationColumns[] = {
    {"Index", 40, "NUMBER", Y, Y, kText, Y, Y, 0, 0, 0},
    {"Name", 250, "NAME", Y, Y, kText, Y, Y, 0, 0, 1},
    {"Value", 80, "VALUE", Y, Y, kText, Y, Y, 0, 0, 2},
    {"Scale", 80, "SCALE", Y, Y, kText, Y, Y, 0, 0, 2},
    {"Shadow Price", 80, "SHADOW_PRICE", Y, Y, kText, Y, Y, 0, 0, 2},
};

constexpr ColumnRecord kVariableColumns2[] = {
    {"Variable", 180, "NAME", Y, N, kText, Y, Y, 0x1, 0, 1},
    {"Value", 80, "VALUE", Y, N, kText, Y, Y, 0x2, 0, 2},
    {"Initial", 80, "INITIAL", Y, N, kText, Y, Y, 0x2, 0, 2},
    {"Change", 80, "CHANGE", Y, N, kText, Y, Y, 0x2, 0, 2},
    {"Units", 80, "UOM", Y, N, kText, Y, Y, 0x400, 0, 1},
    {"Base Units", 80, "BASEUOM", N, N, kText, Y, Y, 0x80000, 0, 1},
    {"Physical Type", 85, "PHYSICAL_TYPE", Y, N, kCombo, Y, Y, 0x100000, 0, 10},
    {"Connection Type", 85, "CONN_TYPE", Y, N, kCombo, Y, Y, -8, 0, 15},
    {"Specification", 80, "SPEC", Y, N, kCombo, Y, Y, 0x100, 0, 3},
    {"Lower Bound", 80, "LOWER", Y, N, kText, Y, Y, 0x4, 0, 2},
    {"Upper Bound", 80, "UPPER", Y, N, kText, Y, Y, 0x8, 0, 2},
    {"Step Bound", 80, "STEP", Y, N, kText, Y, Y, 0x10, 0, 2},
    {"Internal Scale", 80, "INTSCALE", Y, Y, kText, Y, Y, 0x20, 0, 2},
    {"Solver Scale", 80, "SCALE", Y, N, kText, Y, Y, 0x40, 0, 2},
    {"Soft bound weight", 80, "SBWEIGHT", Y, N, kText, Y, Y, 0x80, 0, 2},
    {"Bound type", 80, "BOUND", Y, N, kCombo, Y, Y, 0x800, 0, 4},
    {"Shadow Price", 80, "SHADOW_PRICE", Y, Y, kText, Y, Y, 0x20000, 0, 2},
    {"Marked", 40, "MARKED", Y, N, kCheck, Y, Y, 0x1000, 0, 6},
    {"Modified", 43, "MODIFIED", Y, Y, kCheck, Y, N, 0x4000, 0, 7},
    {"Index", 42, "NUMBER", Y, N, kText, Y, Y, 0, 0, 0},
    {"Active bound", 140, "ACTIVE_BOUND", Y, Y, kCombo, Y, Y, 0x10000, 0, 5},
    {"Quality", 80, "QUALITY", Y, N, kCombo, Y, N, 0x40000, 0, 8},
    {"Homo_Param", 80, "HOMO_PARAM", N, N, kCombo, Y, Y, 0x400000, 0, 13},
    {"Homo_Target", 80, "HOMO_TARGET", N, N, kText, Y, Y, 0x800000, 0, 2},
    {"Description", 250, "DESCRIPTION", Y, N, kText, Y, Y, 0x1000000, 0, 1},
    {"Variable type", 140, "VARIABLE_TYPE", Y, N, kCombo, Y, Y, 0x2000000, 0, 14},
    {"Threshold", 80, "THRESHOLD", Y, N, kText, Y, Y, 0x8000000, 0, 2},
    {"Ramped", 50, "RAMPED", Y, N, kCheck, Y, Y, 0x10000000, 0, 11},
};

constexpr ColumnRecord kActiveBoundColumns[] = {
    {"Active bound", 140, "ACTIVE_BOUND", Y, Y, kCombo, Y, N, 0, 5, 0},
    {"Modified", 43, "MODIFIED", Y, Y, kText, Y, N, 0, 0, 0},
    {"Physical Type", 85, "PHYSICAL_TYPE", Y, Y, kText, Y, N, 0, 1, 0},
};

constexpr KindRecord kKinds[kKindCount] = {
    {30, 16, 1, 0, 1, Y, Y, "TabSetup.hlp", 11, kVariableColumns},
    {30, 16, 1, 0, 1, N, Y, nullptr, 0, kPortColumns},
    {30, 16, 1, 0, 1, N, Y, nullptr, 0, kParameterColumns},
    {30, 16, 1, 0, 1, N, Y, nullptr, 0, kEquationColumns},
    {30, 16, 1, 0, 1, N, Y, nullptr, 0, kPortColumns},
    {30, 16, 1, 0, 1, N, Y, nullptr, 0, kParameterColumns},
    {30, 16, 1, 0, 0, Y, Y, nullptr, 0, kVariableColumns2},
    {30, 16, 1, 0, -1, Y, Y, nullptr, 0, kActiveBoundColumns},
};

constexpr ControlValue Int(int64_t v) { return ControlValue{v, 0.0, nullptr, nullptr}; }
constexpr ControlValue Real(double v) { return ControlValue{0, v, nullptr, nullptr}; }
constexpr ControlValue Text(const char* v) { return ControlValue{0, 0.0, v, nullptr}; }
constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

constexpr ComboItem kSpecItems[] = {
    {"Calculated", Int(0), "CALC"},  {"Constant", Int(1), "CONST"},     {"Measured", Int(3), "MEAS"},
    {"Parameterized", Int(4), "PARAM"}, {"Optimized", Int(5), "OPTIM"}, {"Reconciled", Int(6), "RECON"},
    {"Independent", Int(2), "INDEP"}, {"Initial", Int(7), "INITIAL"},
};

constexpr ComboItem kBoundTypeItems[] = {
    {"Hard", Int(0), "HARD"}, {"Soft", Int(2), "SOFT"}, {"Soft2", Int(3), "SOFT2"}, {"Relaxed", Int(1), "RELAX"},
};

constexpr ComboItem kActiveBoundItems[] = {
    {"Not at bound", Int(0), "NOT_AT_BOUNDS"},
    {"Step lower bound", Int(1), "STEP_LOWER"},
    {"Step upper bound", Int(2), "STEP_UPPER"},
    {"Exceeded step lower bound", Int(3), "EXCEEDED_STEP_LOWER"},
    {"Exceeded step upper bound", Int(4), "EXCEEDED_STEP_UPPER"},
    {"Lower bound", Int(5), "LOWER"},
    {"Upper bound", Int(6), "UPPER"},
    {"Exceeded lower bound", Int(7), "EXCEEDED_LOWER"},
    {"Exceeded upper bound", Int(8), "EXCEEDED_UPPER"},
    {"Soft lower bound", Int(9), "SOFT_LOWER"},
    {"Soft upper bound", Int(10), "SOFT_UPPER"},
    {"Exceeded soft lower bound", Int(11), "EXCEEDED_SOFT_LOWER"},
    {"Exceeded soft upper bound", Int(12), "EXCEEDED_SOFT_UPPER"},
    {"Relaxed lower bound", Int(13), "RELAXED_LOWER"},
    {"Relaxed upper bound", Int(14), "RELAXED_UPPER"},
    {"Exceeded relaxed lower bound", Int(15), "EXCEEDED_RELAXED_LOWER"},
    {"Exceeded relaxed upper bound", Int(16), "EXCEEDED_RELAXED_UPPER"},
    {"Bound pinched", Int(17), "PINCHED"},
};

constexpr ComboItem kQualityItems[] = {
    {"Good", Int(0), "GOOD"}, {"Bad", Int(1), "BAD"}, {"Override", Int(2), "OVERRIDE"},
};

// 16-bit booleans: true is all bits set.
constexpr ComboItem kBooleanItems[] = {
    {"True", Int(-1), "True"}, {"False", Int(0), "False"},
};

constexpr ComboItem kYesNoItems[] = {
    {"No", Int(0), "NO"}, {"Yes", Int(1), "YES"},
};

constexpr ComboItem kVariableTypeItems[] = {
    {"Algebraic", Int(0), "ALGEBRAIC"},
    {"State", Int(1), "STATE"},
    {"Differential", Int(2), "DIFFERENTIAL"},
    {"Integer", Int(3), "INTEGER"},
    {"Discrete ESlack", Int(4), "DISCRETE_ESLACK"},
    {"Binary", Int(5), "BINARY"},
    {"Partial Integer", Int(6), "PARTIAL_INTEGER"},
    {"Semi Continuous", Int(7), "SEMI_CONTINUOUS"},
    {"Semi Continuous Integer", Int(64), "SEMI_CONTINUOUS_INTEGER"},
};

#define NUV_PT(name) {name, Text(name), name}
constexpr ComboItem kPhysicalTypeItems[] = {
    NUV_PT("ACCELERATION"), NUV_PT("ANGLE"), NUV_PT("AREA"), NUV_PT("AREA-PRICE"), NUV_PT("AREA-SQTIME"),
    NUV_PT("AREA-USAGE"), NUV_PT("BOND-WORK-IN"), NUV_PT("CHROM-VEL"), NUV_PT("COMPOSITION"), NUV_PT("CONTENTS"),
    NUV_PT("COST-RATE"), NUV_PT("CURRENT"), NUV_PT("DELTA-T"), NUV_PT("DENSITY"), NUV_PT("DIFFUSIVITY"),
    NUV_PT("DIMENSIONLES"), NUV_PT("DIPOLEMOMENT"), NUV_PT("DOWNCOMER-LD"), NUV_PT("ELEC-POWER"),
    NUV_PT("ELEC-PRICE"), NUV_PT("ENERGY"), NUV_PT("ENERGY-PRICE"), NUV_PT("ENERGY-VOL"), NUV_PT("ENTHALPY"),
    NUV_PT("ENTHALPY-CYC"), NUV_PT("ENTHALPY-FLO"), NUV_PT("ENTHALPY-OPR"), NUV_PT("ENTROPY"), NUV_PT("F-FACTOR"),
    NUV_PT("FILTER-RESIS"), NUV_PT("FISCAL"), NUV_PT("FLOW"), NUV_PT("FLUX"), NUV_PT("FLUX-HEAT-AR"),
    NUV_PT("FLUX-MOLE"), NUV_PT("FORCE"), NUV_PT("FREQUENCY"), NUV_PT("FS"), NUV_PT("GROWTH-RATE"), NUV_PT("HEAD"),
    NUV_PT("HEAT"), NUV_PT("HEAT-FLUX"), NUV_PT("HEAT-RATE-V"), NUV_PT("HEAT-TRANS-C"), NUV_PT("INVERSE-AREA"),
    NUV_PT("INVERSE-HT-C"), NUV_PT("INVERSE-LENG"), NUV_PT("INVERSE-PRES"), NUV_PT("INVERSE-TEMP"),
    NUV_PT("INVERSE-TIME"), NUV_PT("INVERSE-VEL"), NUV_PT("ITEM-PRICE"), NUV_PT("LENGTH"), NUV_PT("LN-INV-TIME"),
    NUV_PT("MASS"), NUV_PT("MASS-CONC"), NUV_PT("MASS-CONT-RT"), NUV_PT("MASS-CONTENT"), NUV_PT("MASS-CYCL"),
    NUV_PT("MASS-DENSITY"), NUV_PT("MASS-EMISSIO"), NUV_PT("MASS-ENTHALP"), NUV_PT("MASS-ENTROPY"),
    NUV_PT("MASS-FLOW"), NUV_PT("MASS-FLUX"), NUV_PT("MASS-HEAT-CA"), NUV_PT("MASS-OPER"), NUV_PT("MASS-PER-LEN"),
    NUV_PT("MASS-TRANS-C"), NUV_PT("MASS-VOLUME"), NUV_PT("MASSFL-AREA"), NUV_PT("MASSFL-LEN"),
    NUV_PT("MOL-FLOW-LEN"), NUV_PT("MOL-RXN-RATW"), NUV_PT("MOLE-AREA"), NUV_PT("MOLE-CONC"), NUV_PT("MOLE-CYCL"),
    NUV_PT("MOLE-DENSITY"), NUV_PT("MOLE-ENTHALP"), NUV_PT("MOLE-ENTROPY"), NUV_PT("MOLE-FLOW"),
    NUV_PT("MOLE-HEAT-CA"), NUV_PT("MOLE-OPER"), NUV_PT("MOLE-PRICE"), NUV_PT("MOLE-RXN-RAT"), NUV_PT("MOLE-VOLUME"),
    NUV_PT("MOLE-WEIGHT"), NUV_PT("MOLEFL-LEN"), NUV_PT("MOLES"), NUV_PT("MOM-INERTIA"), NUV_PT("NUM-CON-RATE"),
    NUV_PT("NUM-CONC"), NUV_PT("PACK-FACTOR"), NUV_PT("PDROP"), NUV_PT("PDROP-PER-HT"), NUV_PT("PDROP-PER-LE"),
    NUV_PT("POP-DENSITY"), NUV_PT("POWER"), NUV_PT("POWER-AREA"), NUV_PT("POWER-MASS"), NUV_PT("POWER-VOLUME"),
    NUV_PT("PRESSURE"), NUV_PT("RESISTANCE"), NUV_PT("RHO-VSQRD"), NUV_PT("SHORT-LENGTH"), NUV_PT("SIEMENS-M"),
    NUV_PT("SOLUPARAM"), NUV_PT("SOLUTE-PERM"), NUV_PT("SOLVENT-PERM"), NUV_PT("SOUND-LEVEL"),
    NUV_PT("SPEC-FLT-RES"), NUV_PT("SPEC-MAT-RES"), NUV_PT("SPECIFICAREA"), NUV_PT("SURFACE-TENS"),
    NUV_PT("TEMP-VOLUME"), NUV_PT("TEMPERATURE"), NUV_PT("THERMAL-COND"), NUV_PT("TIME"), NUV_PT("UA"),
    NUV_PT("UNIT-PRICE"), NUV_PT("UNTYPED"), NUV_PT("USR-DUMMY0"), NUV_PT("USR-DUMMY1"), NUV_PT("USR-DUMMY2"),
    NUV_PT("USR-DUMMY4"), NUV_PT("USR-DUMMY5"), NUV_PT("USR-DUMMY6"), NUV_PT("USR-DUMMY7"), NUV_PT("USR-DUMMY8"),
    NUV_PT("USR-DUMMY9"), NUV_PT("VELOCIT-FLUX"), NUV_PT("VELOCITY"), NUV_PT("VFLOW-LENGTH"), NUV_PT("VFLOW-RPM"),
    NUV_PT("VISCOSITY"), NUV_PT("VOL-ENTHALPY"), NUV_PT("VOL-HEAT-CAP"), NUV_PT("VOL-HTR-COEF"), NUV_PT("VOLTAGE"),
    NUV_PT("VOLUME"), NUV_PT("VOLUME-CYCL"), NUV_PT("VOLUME-FLOW"), NUV_PT("VOLUME-GFLOW"), NUV_PT("VOLUME-OPER"),
    NUV_PT("VOLUME-PRICE"), NUV_PT("VOLUME-USAGE"), NUV_PT("WATER-RATE"), NUV_PT("WEIR-LOAD"), NUV_PT("WORK"),
};
#undef NUV_PT
static_assert(std::size(kPhysicalTypeItems) == 149);

#define NUV_CT(name, code) {name, Int(code), name}
constexpr ComboItem kConnectionTypeItems[] = {
    NUV_CT("ACCELERATION", 132), NUV_CT("ANGLE", 32), NUV_CT("ANILINE-PT", 1002), NUV_CT("API", 1003),
    NUV_CT("AREA", 1), NUV_CT("AREA-PRICE", 54), NUV_CT("AREA-SQTIME", 134), NUV_CT("AREA-USAGE", 62),
    NUV_CT("AROM-BY-VOL", 1004), NUV_CT("AROM-BY-WT", 1036), NUV_CT("AROM-FACTOR", 1001),
    NUV_CT("ASPHALT-CONT", 1037), NUV_CT("BASIC-N2-CONT", 1005), NUV_CT("BENZ-BY-VOL", 1006),
    NUV_CT("BOND-WORK-IN", 34), NUV_CT("C5-BY-WT", 1038), NUV_CT("CETANE-IDX", 1010), NUV_CT("CHROM-VEL", 69),
    NUV_CT("CLOUD-PT", 1039), NUV_CT("COMPOSITION", 2), NUV_CT("CON-11", 1007), NUV_CT("CON-CLEAR", 1008),
    NUV_CT("CONRAD-CARBON", 1009), NUV_CT("CONTENTS", 85), NUV_CT("COPPER-CONT", 1040), NUV_CT("COST-RATE", 119),
    NUV_CT("CURRENT", 114), NUV_CT("D2887-X-PCT", 1042), NUV_CT("D86-X-PCT", 1043), NUV_CT("DELTA-T", 31),
    NUV_CT("DENSITY", 3), NUV_CT("DIFFUSIVITY", 4), NUV_CT("DIMENSIONLES", 44), NUV_CT("DIPOLEMOMENT", 45),
    NUV_CT("DON-11", 1011), NUV_CT("DON-CLEAR", 1012), NUV_CT("DOWNCOMER-LD", 137), NUV_CT("DRIVE-IDX", 1044),
    NUV_CT("ELEC-POWER", 47), NUV_CT("ELEC-PRICE", 48), NUV_CT("ENERGY", 5), NUV_CT("ENERGY-PRICE", 30),
    NUV_CT("ENERGY-VOL", 117), NUV_CT("ENTHALPY", 6), NUV_CT("ENTHALPY-CYC", 105), NUV_CT("ENTHALPY-FLO", 13),
    NUV_CT("ENTHALPY-OPR", 109), NUV_CT("ENTROPY", 7), NUV_CT("EX-BENZ-EMISS", 1013), NUV_CT("F-FACTOR", 101),
    NUV_CT("FILTER-RESIS", 35), NUV_CT("FISCAL", 8), NUV_CT("FLASH-PT", 1045), NUV_CT("FLOW", 9),
    NUV_CT("FLUX", 61), NUV_CT("FLUX-HEAT-AR", 120), NUV_CT("FLUX-MOLE", 121), NUV_CT("FORCE", 14),
    NUV_CT("FREEZE-PT", 1046), NUV_CT("FREQUENCY", 28), NUV_CT("FS", 140), NUV_CT("GROWTH-RATE", 146),
    NUV_CT("HEAD", 33), NUV_CT("HEAT", 53), NUV_CT("HEAT-FLUX", 80), NUV_CT("HEAT-RATE-V", 122),
    NUV_CT("HEAT-TRANS-C", 16), NUV_CT("INVERSE-AREA", 78), NUV_CT("INVERSE-HT-C", 87),
    NUV_CT("INVERSE-LENG", 68), NUV_CT("INVERSE-PRES", 82), NUV_CT("INVERSE-TEMP", 81),
    NUV_CT("INVERSE-TIME", 59), NUV_CT("INVERSE-VEL", 130), NUV_CT("IRON-CONT", 1041),
    NUV_CT("ISO-IN-C4MIX", 1064), NUV_CT("ITEM-PRICE", 56), NUV_CT("LE-COMPONENT", 1065), NUV_CT("LENGTH", 17),
    NUV_CT("LN-INV-TIME", 60), NUV_CT("LUMIN-NO", 1015), NUV_CT("MASS", 18), NUV_CT("MASS-CONC", 58),
    NUV_CT("MASS-CONT-RT", 145), NUV_CT("MASS-CONTENT", 133), NUV_CT("MASS-CYCL", 102),
    NUV_CT("MASS-DENSITY", 38), NUV_CT("MASS-EMISSIO", 129), NUV_CT("MASS-ENTHALP", 40),
    NUV_CT("MASS-ENTROPY", 42), NUV_CT("MASS-FLOW", 10), NUV_CT("MASS-FLUX", 70), NUV_CT("MASS-HEAT-CA", 49),
    NUV_CT("MASS-OPER", 106), NUV_CT("MASS-PER-LEN", 116), NUV_CT("MASS-TRANS-C", 66), NUV_CT("MASS-VOLUME", 115),
    NUV_CT("MASSFL-AREA", 141), NUV_CT("MASSFL-LEN", 147), NUV_CT("MOL-FLOW-LEN", 89),
    NUV_CT("MOL-RXN-RATW", 124), NUV_CT("MOLE-AREA", 135), NUV_CT("MOLE-CONC", 64), NUV_CT("MOLE-CYCL", 103),
    NUV_CT("MOLE-DENSITY", 37), NUV_CT("MOLE-ENTHALP", 39), NUV_CT("MOLE-ENTROPY", 41), NUV_CT("MOLE-FLOW", 11),
    NUV_CT("MOLE-HEAT-CA", 15), NUV_CT("MOLE-OPER", 107), NUV_CT("MOLE-PRICE", 125), NUV_CT("MOLE-RXN-RAT", 123),
    NUV_CT("MOLE-VOLUME", 43), NUV_CT("MOLE-WEIGHT", 139), NUV_CT("MOLEFL-LEN", 148), NUV_CT("MOLES", 51),
    NUV_CT("MOM-INERTIA", 112), NUV_CT("MON-11", 1016), NUV_CT("MON-CLEAR", 1017), NUV_CT("N2-CONT", 1050),
    NUV_CT("NAPH-VOL-PCT", 1019), NUV_CT("NAPH-WT-PCT", 1048), NUV_CT("NICKEL-CONT", 1049),
    NUV_CT("NOX-EMISS", 1020), NUV_CT("NPLUS2A-BY-VOL", 1018), NUV_CT("NPLUSA-BY-VOL", 1047),
    NUV_CT("NUM-CON-RATE", 77), NUV_CT("NUM-CONC", 57), NUV_CT("O2-WT-PCT", 1022), NUV_CT("OLEF-VOL-PCT", 1021),
    NUV_CT("OLEF-WT-PCT", 1051), NUV_CT("PACK-FACTOR", 76), NUV_CT("PARAF-VOL-PCT", 1052),
    NUV_CT("PARAF-WT-PCT", 1053), NUV_CT("PDROP", 75), NUV_CT("PDROP-PER-HT", 74), NUV_CT("PDROP-PER-LE", 94),
    NUV_CT("POP-DENSITY", 86), NUV_CT("POUR-PT", 1023), NUV_CT("POUR-PT-IDX", 1024), NUV_CT("POWER", 19),
    NUV_CT("POWER-AREA", 127), NUV_CT("POWER-MASS", 128), NUV_CT("POWER-VOLUME", 65), NUV_CT("PRESSURE", 20),
    NUV_CT("REFRACT-INDEX", 1054), NUV_CT("REID-VAP-PRES", 1028), NUV_CT("RESISTANCE", 143),
    NUV_CT("RHO-VSQRD", 110), NUV_CT("RON-11", 1025), NUV_CT("RON-CLEAR", 1026), NUV_CT("RVP-IDX", 1027),
    NUV_CT("SHORT-LENGTH", 138), NUV_CT("SIEMENS-M", 118), NUV_CT("SMOKE-PT", 1055), NUV_CT("SODIUM-CONT", 1056),
    NUV_CT("SOLUPARAM", 46), NUV_CT("SOLUTE-PERM", 72), NUV_CT("SOLVENT-PERM", 71), NUV_CT("SOUND-LEVEL", 111),
    NUV_CT("SP-GRAVITY", 1029), NUV_CT("SP-VOLUME", 1030), NUV_CT("SPEC-FLT-RES", 36),
    NUV_CT("SPEC-MAT-RES", 131), NUV_CT("SPECIFICAREA", 67), NUV_CT("STD-LIQ-DEN", 1057),
    NUV_CT("SULF-WT-PCT", 1031), NUV_CT("SULFUR-MCAP-WT", 1058), NUV_CT("SURFACE-TENS", 21),
    NUV_CT("TBP-X-PCT", 1059), NUV_CT("TEMP-VOLUME", 83), NUV_CT("TEMPERATURE", 22), NUV_CT("THERMAL-COND", 23),
    NUV_CT("TIME", 24), NUV_CT("TOXIC-EMISS", 1032), NUV_CT("UA", 50), NUV_CT("UNIT-PRICE", 29),
    NUV_CT("UNSAT-IN-C3MIX", 1062), NUV_CT("UNSAT-IN-C4MIX", 1063), NUV_CT("UNTYPED", 0),
    NUV_CT("USR-DUMMY0", 90), NUV_CT("USR-DUMMY1", 91), NUV_CT("USR-DUMMY2", 92), NUV_CT("USR-DUMMY4", 94),
    NUV_CT("USR-DUMMY5", 95), NUV_CT("USR-DUMMY6", 96), NUV_CT("USR-DUMMY7", 97), NUV_CT("USR-DUMMY8", 98),
    NUV_CT("USR-DUMMY9", 99), NUV_CT("VANADIUM-BY-WT", 1033), NUV_CT("VELOCIT-FLUX", 144),
    NUV_CT("VELOCITY", 25), NUV_CT("VFLOW-LENGTH", 84), NUV_CT("VFLOW-RPM", 100), NUV_CT("VISCO-INDEX", 1034),
    NUV_CT("VISCOSITY", 26), NUV_CT("VOC-EMISS", 1035), NUV_CT("VOL-ENTHALPY", 88), NUV_CT("VOL-HEAT-CAP", 79),
    NUV_CT("VOL-HTR-COEF", 126), NUV_CT("VOLTAGE", 113), NUV_CT("VOLUME", 27), NUV_CT("VOLUME-CYCL", 104),
    NUV_CT("VOLUME-FLOW", 12), NUV_CT("VOLUME-GFLOW", 142), NUV_CT("VOLUME-OPER", 108),
    NUV_CT("VOLUME-PRICE", 55), NUV_CT("VOLUME-USAGE", 63), NUV_CT("WATER-RATE", 73), NUV_CT("WATSON-K", 1014),
    NUV_CT("WAX-CONT", 1060), NUV_CT("WEIR-LOAD", 136), NUV_CT("WORK", 52), NUV_CT("X-PCT-EVAP", 1061),
};
#undef NUV_CT
static_assert(std::size(kConnectionTypeItems) == 214);

constexpr StaticRecord kUndefinedStatic{"Undefined"};
constexpr TextBoxRecord kIntegerTextBox{kInt32, kNoLimit, nullptr, Int(0), 1, 0};
// Styles 1 and 12 share this record.
constexpr TextBoxRecord kNarrowTextBox{kNarrowText, kNoLimit, nullptr, Text(nullptr), 0, 0};
constexpr TextBoxRecord kRealTextBox{kFloat64, kNoLimit, nullptr, Real(0.0), 4, 6};
constexpr CheckBoxRecord kIntegerCheckBox{kInt32, Int(1), Int(0), "1", "0", 2};
constexpr CheckBoxRecord kBooleanCheckBox{kBool16, Int(-1), Int(0), "1", "0", 2};
constexpr ComboRecord kSpecCombo{kInt32, Int(0), kSpecItems};
constexpr ComboRecord kBoundTypeCombo{kInt32, Int(0), kBoundTypeItems};
constexpr ComboRecord kActiveBoundCombo{kInt32, Int(0), kActiveBoundItems};
constexpr ComboRecord kQualityCombo{kInt32, Int(0), kQualityItems};
constexpr ComboRecord kPhysicalTypeCombo{kNarrowText, Text("UNTYPED"), kPhysicalTypeItems};
constexpr ComboRecord kBooleanCombo{kBool16, Int(-1), kBooleanItems};
constexpr ComboRecord kYesNoCombo{kInt32, Int(0), kYesNoItems};
constexpr ComboRecord kVariableTypeCombo{kInt32, Int(0), kVariableTypeItems};
constexpr ComboRecord kConnectionTypeCombo{kInt32, Int(0), kConnectionTypeItems};

constexpr ControlStyle TextBox(const TextBoxRecord* r) { return ControlStyle{ECT_TEXT, nullptr, r, nullptr, nullptr}; }
constexpr ControlStyle CheckBox(const CheckBoxRecord* r) {
    return ControlStyle{ECT_CHECKBOX, nullptr, nullptr, r, nullptr};
}
constexpr ControlStyle Combo(const ComboRecord* r) { return ControlStyle{ECT_COMBOBOX, nullptr, nullptr, nullptr, r}; }
constexpr ControlStyle Static(const StaticRecord* r) { return ControlStyle{ECT_STATIC, r, nullptr, nullptr, nullptr}; }

constexpr ControlStyle kStyles[kStyleCount] = {
    TextBox(&kIntegerTextBox),       TextBox(&kNarrowTextBox),     TextBox(&kRealTextBox),
    Combo(&kSpecCombo),     Combo(&kBoundTypeCombo),      Combo(&kActiveBoundCombo),
    CheckBox(&kIntegerCheckBox),     CheckBox(&kBooleanCheckBox),  Combo(&kQualityCombo),
    Static(&kUndefinedStatic),       Combo(&kPhysicalTypeCombo),   Combo(&kBooleanCombo),
    TextBox(&kNarrowTextBox),        Combo(&kYesNoCombo),          Combo(&kVariableTypeCombo),
    Combo(&kConnectionTypeCombo),
};

constexpr const char* kListBoxKeys[] = {"NAME",   "VALUE",    "INITIAL",  "CHANGE",       "UOM",
                                        "PHYSICAL_TYPE", "SPEC", "LOWER",   "UPPER",        "STEP",
                                        "INTSCALE", "SCALE",  "SBWEIGHT", "BOUND",        "SHADOW_PRICE",
                                        "MARKED", "MODIFIED", "NUMBER",   "ACTIVE_BOUND", "QUALITY"};
constexpr const char* kActiveBoundKeys[] = {"ACTIVE_BOUND", "MODIFIED", "PHYSICAL_TYPE"};

constexpr PreSortedList kPreSorted[] = {
    {"ListBox", 0, kListBoxKeys},
    {"ActiveBound", 0, kActiveBoundKeys},
};

}  // namespace

const KindRecord* FindKind(int kind) { return kind >= 0 && kind < kKindCount ? &kKinds[kind] : nullptr; }

const ControlStyle* FindStyle(int style) {
    return style >= 0 && style < kStyleCount ? &kStyles[style] : nullptr;
}

std::span<const PreSortedList> PreSortedLists() { return kPreSorted; }

}  // namespace nuv::griddef
