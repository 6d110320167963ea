// Engine library functions: values and lists, global parameters, pipes, the callback table, text and
// pattern helpers and tags.
#include "system_library.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "capture.h"
#include "zeq_testing.h"

using zeq::testing::ModelBuilder;

namespace {

std::string Text(const value_t& v) {
    char buf[256];
    value_to_text(&v, buf, sizeof buf);
    return buf;
}

TEST(Values, FromStringPicksTheKind) {
    struct Case { const char* text; int as_id; int kind; int is_int; const char* shown; };
    const Case cases[] = {{"42", 1, VALUE_NUMBER, 1, "42"},          {"-2.5", 1, VALUE_NUMBER, 0, "-2.5"},
                          {"TRUE", 1, VALUE_LOGICAL, 0, "True"},     {"abc", 1, VALUE_ID, 0, "abc"},
                          {"abc", 0, VALUE_STRING, 0, "abc"},        {"\"a,b\"", 1, VALUE_STRING, 0, "a,b"},
                          {"", 1, VALUE_ID, 0, ""},                  {"1e3", 0, VALUE_NUMBER, 0, "1000"},
                          {"99999999999999999999999", 1, VALUE_NUMBER, 0, "1e+23"}};
    for (const Case& c : cases) {
        value_t* v = value_create_from_string(c.text, c.as_id);
        EXPECT_EQ(v->kind, c.kind) << c.text;
        EXPECT_EQ(v->is_int, c.is_int) << c.text;
        EXPECT_EQ(Text(*v), c.shown) << c.text;
        gl_value_free(v);
    }
}

TEST(Values, CopiesAreDeepAndListsWalkFromOne) {
    value_t list;
    value_init(&list);
    EXPECT_EQ(list.kind, VALUE_MISSING);
    gl_list* items = gl_create(0);
    EXPECT_EQ(gl_top(items), 0);
    for (const char* s : {"1", "two", "3.5"}) gl_addtoend(items, value_create_from_string(s, 1));
    value_assign_list(&list, items);
    value_t copy;
    value_init(&copy);
    value_copy(&copy, &list);
    value_destroy(&list);
    EXPECT_EQ(Text(copy), "1, two, 3.5");
    std::vector<std::string> walked;
    for (int p = gl_top(copy.u.list); !gl_end(copy.u.list, p); p = gl_next(copy.u.list, p))
        walked.push_back(Text(*static_cast<value_t*>(gl_get(copy.u.list, p))));
    EXPECT_EQ(walked, (std::vector<std::string>{"1", "two", "3.5"}));
    EXPECT_EQ(gl_get(copy.u.list, 0), nullptr);
    EXPECT_EQ(gl_get(copy.u.list, 4), nullptr);
    value_destroy(&copy);
    value_destroy(&copy);  // a destroyed value can be destroyed again
}

TEST(Values, EnumerationsAndBoundedNumbers) {
    value_t e;
    value_init(&e);
    gl_list* opts = gl_create(0);
    for (const char* s : {"FAST", "ACCURATE"}) gl_addtoend(opts, value_create_from_string(s, 1));
    value_assign_enum(&e, opts);
    EXPECT_EQ(Text(e), "FAST");
    EXPECT_EQ(value_enum_setvalue_asString(&e, strdup("accurate")), 0);
    EXPECT_EQ(Text(e), "ACCURATE");
    EXPECT_EQ(value_enum_setvalue_asString(&e, strdup("SLOW")), -1);
    EXPECT_EQ(Text(e), "ACCURATE");
    value_destroy(&e);
    value_t b;
    value_init(&b);
    value_assign_boundednum(&b, 2, 1, 8, 1);
    EXPECT_EQ(boundednumSetValAsInt(&b, 5), 0);
    EXPECT_EQ(Text(b), "5");
    EXPECT_EQ(boundednumSetValAsInt(&b, 9), -1);
    EXPECT_EQ(boundednumSetValAsReal(&b, 0.5), -1);
    EXPECT_EQ(Text(b), "5") << "a refused value leaves it unchanged";
    EXPECT_EQ(boundednumSetValAsReal(&b, 2.5), 0);
    EXPECT_EQ(b.is_int, 0);
    value_destroy(&b);
}

TEST(GlobalParameters, ListReadAndSetThroughTheTable) {
    auto sim = ModelBuilder().Block("A").Var("X", 1)
        .Global("LIMIT", zeq::Value::Real(5))
        .Global("NAME", zeq::Value::Text("x"))
        .Global("FIXED", zeq::Value::Int(1), 0).Create();
    EngineParameterTable* table = sim->GetFlowsheet()->GetParameterTable();
    EXPECT_EQ(param_num_defined(nullptr), 3);
    char name[8];
    EXPECT_EQ(param_inq_name(nullptr, 2, name, sizeof name), 4);
    EXPECT_STREQ(name, "NAME");
    char small[3];
    param_inq_name(nullptr, 1, small, sizeof small);
    EXPECT_STREQ(small, "LI") << "cut, never overflowing";
    EXPECT_EQ(param_inq_name(nullptr, 4, name, sizeof name), -1);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(param_read_only("fixed", 0), 1);
    EXPECT_EQ(param_read_only("LIMIT", 0), 0);
    value_t v;
    value_init(&v);
    value_assign_double(&v, 7);
    EXPECT_EQ(param_set("limit", &v, 0, table), 0);
    EXPECT_LT(param_set("FIXED", &v, 0, table), 0);
    EXPECT_LT(param_set("NOPE", &v, 0, table), 0);
    EXPECT_LT(param_set("NAME", &v, 0, table), 0) << "a text parameter keeps its kind";
    value_t got;
    value_init(&got);
    ASSERT_TRUE(table->GetValue("LIMIT", &got));
    EXPECT_EQ(Text(got), "7");
    EXPECT_FALSE(table->GetValue("NOPE", &got));
    value_destroy(&got);
    value_destroy(&v);
}

TEST(Pipes, CopiesAreFreedWithoutClosingAndDevicesTakeCopies) {
    OutputCapture cap;
    EXPECT_EQ(rtowrite(stdoutPipe, "ab\0c", 4), 1);
    EXPECT_EQ(cap.text, std::string("ab\0c", 4));
    EXPECT_EQ(rtowrite(stdoutPipe, "xyz", -1), 1);
    EXPECT_EQ(cap.text.size(), 7u);
    EXPECT_EQ(rtoflush(stdoutPipe), 1);
    EXPECT_STREQ(rtodesc(stdoutPipe), "capture");
    EXPECT_EQ(rtowrite(nullptr, "x", 1), -1);
    rtopipe* copy = copyPipe(stdoutPipe);
    ASSERT_NE(copy, stdoutPipe);
    EXPECT_EQ(copy->owner, stdoutPipe->owner);
    rtodestroy(copy);
    EXPECT_EQ(cap.closes, 0);
    // The history device gets its own copy; replacing it destroys that copy, never the caller's record.
    rtopipe mine = *stdoutPipe;
    rtohis_set_hisDev(&mine);
    EXPECT_NE(rtHisDev, &mine);
    EXPECT_EQ(rtHisDev->owner, mine.owner);
    rtowrite(rtHisDev, "h", 1);
    EXPECT_EQ(cap.text.back(), 'h');
    rtohis_set_hisDev(nowherePipe);
    rtorep_set_repDev(&mine);
    rtorep_set_repDev(nowherePipe);
    EXPECT_EQ(cap.closes, 0);
    rtodestroy(nullptr);
    rtodestroy(nowherePipe);
    EXPECT_EQ(rtowrite(nowherePipe, "lost", 4), 1);
}

TEST(Pipes, InputPipesReadLines) {
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("first\r\nsecond\nthird", f);
    std::rewind(f);
    rtopipe* in = create_ascii_stream_rtopipe(f, "input.txt", 1);
    ASSERT_NE(in, nullptr);
    EXPECT_STREQ(rtodesc(in), "input.txt");
    char buf[4];
    ASSERT_TRUE(rtoread_line(in, buf, sizeof buf));
    EXPECT_STREQ(buf, "fir") << "long lines are cut to the buffer";
    char line[64];
    ASSERT_TRUE(rtoread_line(in, line, sizeof line));
    EXPECT_STREQ(line, "second");
    ASSERT_TRUE(rtoread_line(in, line, sizeof line));
    EXPECT_STREQ(line, "third");
    EXPECT_FALSE(rtoread_line(in, line, sizeof line));
    EXPECT_EQ(rtowrite(in, "x", 1), -1);
    rtodestroy(in);  // closes the file it owns
    EXPECT_EQ(create_ascii_stream_rtopipe(nullptr, "x", 1), nullptr);
}

TEST(EventTable, SlotsZeroToTwentyNineAndNoTableMeansZero) {
    rtoevent_destroy_callbacks();
    EXPECT_EQ(rtoevent_do_callback(5, 0, 0, nullptr), 0);
    EXPECT_EQ(rtoevent_set_callback(5, [](intptr_t, intptr_t, ZEQEOSimulation*) -> intptr_t { return 1; }), -1);
    ASSERT_EQ(rtoevent_create_callbacks(29), 0);
    auto cb = [](intptr_t a, intptr_t b, ZEQEOSimulation*) -> intptr_t { return a + b; };
    EXPECT_EQ(rtoevent_set_callback(0, cb), 0);
    EXPECT_EQ(rtoevent_set_callback(29, cb), 0);
    EXPECT_EQ(rtoevent_set_callback(30, cb), -1);
    EXPECT_EQ(rtoevent_set_callback(-1, cb), -1);
    EXPECT_EQ(rtoevent_do_callback(29, 2, 3, nullptr), 5);
    EXPECT_EQ(rtoevent_do_callback(28, 2, 3, nullptr), 0);
    EXPECT_EQ(rtoevent_do_callback(30, 2, 3, nullptr), 0);
    // A callback may destroy the table it was called from.
    EXPECT_EQ(rtoevent_set_callback(1, [](intptr_t, intptr_t, ZEQEOSimulation*) -> intptr_t {
                  rtoevent_destroy_callbacks();
                  return 9;
              }),
              0);
    EXPECT_EQ(rtoevent_do_callback(1, 0, 0, nullptr), 9);
    EXPECT_EQ(rtoevent_do_callback(29, 2, 3, nullptr), 0);
}

TEST(TextHelpers, CaselessCompareUpperCaseAndGlobs) {
    EXPECT_EQ(stred_caseless_cmp("Feed.F", "FEED.f"), 0);
    EXPECT_LT(stred_caseless_cmp("A", "b"), 0);
    EXPECT_GT(stred_caseless_cmp("b", "A"), 0);
    EXPECT_EQ(stred_caseless_cmp(nullptr, nullptr), 0);
    char s[] = "mix.f1";
    EXPECT_STREQ(stred_upper_case(s), "MIX.F1");
    EXPECT_EQ(stred_upper_case(nullptr), nullptr);
    struct Case { const char* glob; const char* text; int match; };
    const Case cases[] = {{"MIX.*", "mix.f1", 1}, {"MIX.*", "MIXER.F", 0}, {"?.X", "A.X", 1}, {"?.X", "AB.X", 0},
                          {"[AB].X", "B.X", 1},   {"[AB].X", "C.X", 0},    {"a+b", "a+b", 1}, {"a+b", "aab", 0}};
    for (const Case& c : cases) {
        char buf[128];
        ASSERT_EQ(stred_glob_to_regexp(c.glob, buf, sizeof buf), 0) << c.glob;
        EXPECT_EQ(buf[0], ' ');
        hs_regex* re = hs_regcomp(buf + 1, 1);
        ASSERT_NE(re, nullptr) << buf + 1;
        hs_regex* copy = hs_regcopy(re);
        hs_regfree(re);
        EXPECT_EQ(hs_regexec(copy, c.text), c.match) << c.glob << " / " << c.text;
        hs_regfree(copy);
    }
    char tiny[4];
    EXPECT_EQ(stred_glob_to_regexp("abcdef", tiny, sizeof tiny), -1);
    EXPECT_EQ(hs_regcomp("(unclosed", 0), nullptr);
    EXPECT_EQ(hs_regexec(nullptr, "x"), 0);
}

// The host and the system library bind to the engine by these names.
TEST(Exports, EveryLibraryFunctionIsExportedUnderItsName) {
    void* lib = nuv::test::OpenLibrary(NUV_ENGINE_LIBRARY);
    ASSERT_NE(lib, nullptr) << nuv::test::LibraryError();
    const char* const names[] = {
        "stdoutPipe", "nowherePipe", "rtHisDev", "rtRepDev", "copyPipe", "rtodestroy", "rtowrite", "rtoflush",
        "rtodesc", "create_ascii_stream_rtopipe", "rtohis_set_hisDev", "rtorep_set_repDev",
        "rtoevent_create_callbacks", "rtoevent_set_callback", "rtoevent_do_callback", "rtoevent_destroy_callbacks",
        "rtosignal_set_severity", "rtosignal_set_ctrlc", "rto_inq_mode_c", "rto_set_mode_c", "rtoMajorVersion",
        "rtoMinorVersion", "rtoBuildNum", "rtoBuildDate", "rtoBuildUserName", "rtouom_get_uomlist",
        "rtouom_destroy_uomlist", "rtouom_get_default", "rtouom_ptype_name", "rtouom_ptype_locate",
        "rtouom_uom_info", "rtouom_delta_si2pair", "pt_lookup", "gl_create", "gl_addtoend", "gl_top", "gl_next",
        "gl_get", "gl_end", "gl_destroy", "rtotaglst_inq_ntag", "rtotaglst_inq_tag", "value_init", "value_destroy",
        "value_copy", "value_assign_double", "value_assign_int", "value_assign_string", "value_assign_logical",
        "value_assign_id", "value_assign_list", "value_create_from_string", "value_enum_setvalue_asString",
        "boundednumSetValAsReal", "boundednumSetValAsInt", "vmask_select_default", "param_inq_name",
        "param_num_defined", "param_read_only", "param_set", "stred_caseless_cmp", "stred_upper_case",
        "stred_glob_to_regexp", "hs_regcomp", "hs_regexec", "hs_regcopy", "hs_regfree", "varIsFixed",
        "varIsIndependent", "varInqPhysicalType", "RTXFILE_OPEN", "RTXFILE_QUERY", "RTXFILE_CLOSE",
        "zeq_set_wrapper_factory", "zeq_create_simulation", "zeq_open_simulation", "zeq_destroy_simulation"};
    for (const char* name : names) EXPECT_NE(nuv::test::FindSymbol(lib, name), nullptr) << name;
    // A simulation made through the exported entry points works on its own.
    using Open = ZEQEOSimulation* (*)(const char*, char*, int);
    using Destroy = void (*)(ZEQEOSimulation*);
    auto open = reinterpret_cast<Open>(nuv::test::FindSymbol(lib, "zeq_open_simulation"));
    auto destroy = reinterpret_cast<Destroy>(nuv::test::FindSymbol(lib, "zeq_destroy_simulation"));
    char error[256] = "";
    ZEQEOSimulation* sim = open(NUV_EXAMPLES_DIR "/plant.model", error, sizeof error);
    ASSERT_NE(sim, nullptr) << error;
    OutputCapture out;
    EXPECT_EQ(sim->Solve(), 0);
    destroy(sim);
    nuv::test::CloseLibrary(lib);
}

TEST(NullArguments, LibraryFunctionsRefuseThemWithoutFaults) {
    value_init(nullptr);
    value_destroy(nullptr);
    value_copy(nullptr, nullptr);
    value_assign_double(nullptr, 1);
    value_assign_string(nullptr, strdup("owned text is freed"));
    value_assign_list(nullptr, gl_create(0));
    EXPECT_EQ(value_enum_setvalue_asString(nullptr, strdup("x")), -1);
    EXPECT_EQ(boundednumSetValAsReal(nullptr, 1), -1);
    EXPECT_EQ(value_to_text(nullptr, nullptr, 0), -1);
    EXPECT_EQ(gl_length(nullptr), 0);
    gl_addtoend(nullptr, nullptr);
    gl_destroy(nullptr, gl_value_free);
    EXPECT_GE(rtouom_get_uomlist(1, nullptr), 1) << "counts without a list";
    EXPECT_EQ(rtouom_ptype_locate(nullptr, 1, nullptr), -1);
    EXPECT_EQ(rtouom_uom_info(1, 1, nullptr), -1);
    EXPECT_EQ(pt_lookup(nullptr), -1);
    EXPECT_EQ(param_set(nullptr, nullptr, 0, nullptr), E_POINTER);
    EXPECT_EQ(param_read_only(nullptr, 0), 1);
    EXPECT_EQ(stred_glob_to_regexp(nullptr, nullptr, 0), -1);
    EXPECT_EQ(hs_regcopy(nullptr), nullptr);
    hs_regfree(nullptr);
    EXPECT_EQ(rtoflush(nullptr), -1);
    EXPECT_EQ(copyPipe(nullptr), nullptr);
    EXPECT_FALSE(rtoread_line(nullptr, nullptr, 0));
    EXPECT_EQ(RTXFILE_QUERY(nullptr, nullptr, nullptr, nullptr), -1);
    RTXFILE_CLOSE(nullptr);
    EXPECT_EQ(rtotaglst_inq_ntag(nullptr), 0);
    EXPECT_EQ(RTVARFILE_WRITE(nullptr, "/tmp/x", nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(varIsFixed(static_cast<const ZEQVariableData*>(nullptr)), 0);
    EXPECT_EQ(varInqPhysicalType(static_cast<const ZEQVariableData*>(nullptr)), -1);
    auto sim = ModelBuilder().Block("A").Var("X", 1).Create();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    EXPECT_EQ(fs->FindBlock(nullptr), nullptr);
    EXPECT_EQ(fs->FindBlockIndex(nullptr), 0);
    EXPECT_EQ(fs->GetBlockPrefix(nullptr), nullptr);
    EXPECT_EQ(fs->FindEquationIndex(nullptr), 0);
    EXPECT_FALSE(fs->LoadVariableData(1, nullptr, true));
    EXPECT_EQ(fs->EnumerateConnections(nullptr, nullptr, 0, 0), E_POINTER);
    EXPECT_EQ(fs->GetBlock(1)->FindPort(nullptr), 0);
    EXPECT_FALSE(fs->GetBlock(1)->IsType(nullptr));
    EXPECT_EQ(sim->FindSolver(nullptr), nullptr);
    EXPECT_FALSE(sim->IsValidObjective(nullptr));
    EXPECT_EQ(sim->GetSolverScope(nullptr, 0, 0), E_POINTER);
    EXPECT_LT(sim->SaveSimulation(nullptr), 0);
    EXPECT_LT(sim->SaveBlock(nullptr, "A"), 0);
    EXPECT_LT(sim->LoadBlock(nullptr), 0);
    EXPECT_LT(sim->AddLibrary(nullptr), 0);
    EXPECT_LT(sim->RemoveLibrary(nullptr), 0);
    EXPECT_EQ(sim->ExecuteCommand(nullptr), 0) << "an empty command";
    EXPECT_EQ(sim->GetFlowsheet()->GetEditor()->AddBlock(nullptr, nullptr, "MIXER", nullptr), ZEQ_E_BAD_NAME);
    EXPECT_EQ(ZEQQueryFactory::NewVariableQuery(nullptr, nullptr), nullptr);
    IZEQQueryEngine* q = ZEQQueryFactory::NewVariableQuery(fs, nullptr);
    EXPECT_FALSE(q->AddQuery(nullptr));
    q->Destroy();
}

}  // namespace
