// External variable files: what a file holds, and reading it into the flowsheet, a block or a scope.
#include <memory>

#include <cstdlib>
#include <functional>
#include <fstream>

#include "tasks/external_file_service.h"
#include "tasks_support.h"
#include "temp_dir.h"

namespace {

using tasks_test::TakeError;
using tasks_test::Text;
using tasks_test::TextsOf;

// Collects what is written to a pipe.
struct CapturePipe {
    rtopipe pipe{&Write, nullptr, nullptr, &Flush, nullptr, this, 0, 0};
    std::string text;
    static int Write(rtopipe* p, const char* bytes, int count) {
        static_cast<CapturePipe*>(p->owner)->text.append(bytes, static_cast<size_t>(count));
        return count;
    }
    static int Flush(rtopipe*) { return 0; }
};

class ExternalFileTest : public tasks_test::ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        service_ = Service<INUVExternalFileService>("NUVExternalFileService").p;
        ASSERT_TRUE(service_);
        temp_ = std::make_unique<nuv::test::TempDir>("nuv-varfiles");
        dir_ = temp_->Path();
    }
    void TearDown() override {
        temp_.reset();
        ServiceTest::TearDown();
    }
    CComBSTR File(const char* name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        files_.push_back(path);
        return CComBSTR(path.c_str());
    }
    CComBSTR Missing() const { return CComBSTR((dir_ + "/missing").c_str()); }
    HRESULT Import(BSTR file, NUVExternalFileType type, LONG attributes = 0, const char* block = nullptr,
                   const char* match = nullptr, const char* substitute = nullptr, bool scope = false) {
        CComBSTR b(block), m(match), s(substitute);
        return service_->Import(file, type, attributes, block ? b.m_str : nullptr, match ? m.m_str : nullptr,
                                substitute ? s.m_str : nullptr, scope ? VARIANT_TRUE : VARIANT_FALSE);
    }
    double Lower(const char* name) { return sim_->Vars()[static_cast<size_t>(sim_->FindVar(name))].lower; }

    CComPtr<INUVExternalFileService> service_;
    std::unique_ptr<nuv::test::TempDir> temp_;
    std::string dir_;
    std::vector<std::string> files_;
};

constexpr const char* kVarFile = "ATTRIBUTES NAME VALUE LOWER\nA.K 5 1\nSEC.H.U 7 2\n";
constexpr const char* kBlockFile = "XFILE\nMASK VALUE LOWER\nMEMBER A.BLK\nA.K 6 1\nMEMBER SEC.BLK\nSEC.H.U 8 2\n";

TEST_F(ExternalFileTest, AttributeVocabulariesOfBothFileKinds) {
    using nuv::varfile::AttributeBit;
    using nuv::varfile::SlotBit;
    EXPECT_EQ(AttributeBit(0) | AttributeBit(28), 0u);
    uint32_t all = 0;
    for (int i = 1; i <= 27; ++i) {
        EXPECT_EQ(all & AttributeBit(i), 0u) << "index " << i << " shares a bit";
        all |= AttributeBit(i);
        // The engine's reader agrees on every index.
        EXPECT_EQ(AttributeBit(i), static_cast<uint32_t>(rtovarfile_attr_bit(i))) << i;
    }
    for (int slot = 1; slot <= 24; ++slot) EXPECT_EQ(SlotBit(slot), rtovmask_slot_bit(slot)) << slot;
    EXPECT_EQ(SlotBit(0) | SlotBit(25), 0u);
}

TEST_F(ExternalFileTest, QueryContentsOfBlockFilesVariableFilesAndPlainFiles) {
    CapturePipe history;
    rtohis_set_hisDev(&history.pipe);
    LONG attributes = -1;
    SAFEARRAY* ids = nullptr;
    CComBSTR blocks = File("b.xf", "XFILE\nMASK VALUE LOWER HOMO_TARGET\nMEMBER sec.h.blk\nMEMBER notes\n"
                                   "MEMBER a.blk\nMEMBER A.BLK\nA.K 6 1 42\n");
    ASSERT_EQ(service_->QueryContents(blocks, NUVExternalFile_XFile, &attributes, &ids), S_OK);
    EXPECT_EQ(attributes, 0x2 | 0x4 | 0x800000);
    EXPECT_EQ(TextsOf(ids), (std::vector<std::string>{"A", "SEC.H"})) << "ordered, unique, upper-cased";
    SafeArrayDestroy(ids);
    // The bit reported for a slot selects that slot on import.
    ASSERT_EQ(Import(blocks, NUVExternalFile_XFile, 0x800000), S_OK);
    EXPECT_EQ(sim_->Vars()[static_cast<size_t>(sim_->FindVar("A.K"))].Extras().homo_target, 42);
    EXPECT_EQ(Value("A.K"), 3) << "the value was not selected";
    EXPECT_EQ(rtHisDev->write, &CapturePipe::Write) << "the history device is put back";
    rtohis_set_hisDev(nullptr);

    CComBSTR vars = File("v.txt", "ATTRIBUTES NAME VALUE UOM DESCRIPTION BOGUS\nsec.h.u 1 kg x y\nA.K 2 - - -\n");
    ASSERT_EQ(service_->QueryContents(vars, NUVExternalFile_VarFile, &attributes, &ids), S_OK);
    EXPECT_EQ(attributes, 0x2 | 0x400 | 0x1000000);
    EXPECT_EQ(TextsOf(ids), (std::vector<std::string>{"SEC", "A"})) << "in the reader's order";
    SafeArrayDestroy(ids);

    EXPECT_EQ(service_->QueryContents(vars, NUVExternalFile_FileExists, &attributes, &ids), S_OK);
    EXPECT_EQ(service_->QueryContents(Missing(), NUVExternalFile_FileExists, &attributes, &ids), S_FALSE);
    EXPECT_EQ(attributes, 0);
    EXPECT_EQ(ids, nullptr);

    EXPECT_EQ(service_->QueryContents(vars, NUVExternalFile_VarFile, nullptr, &ids), E_POINTER);

    // Late-bound, with both results by reference as a script passes them.
    LONG found = 0;
    SAFEARRAY* lateIds = nullptr;
    VARIANT foundRef, idsRef;
    foundRef.vt = VT_I4 | VT_BYREF;
    foundRef.plVal = &found;
    idsRef.vt = VT_ARRAY | VT_BSTR | VT_BYREF;
    idsRef.pparray = &lateIds;
    CComVariant none;
    ASSERT_EQ(tasks_test::CallByName(service_, OLESTR("QueryContents"), DISPATCH_METHOD,
                                     {CComVariant(vars), CComVariant(1), CComVariant(foundRef), CComVariant(idsRef)},
                                     &none),
              S_OK);
    EXPECT_EQ(found, 0x2 | 0x400 | 0x1000000);
    EXPECT_EQ(TextsOf(lateIds), (std::vector<std::string>{"SEC", "A"}));
    SafeArrayDestroy(lateIds);
}

TEST_F(ExternalFileTest, VariableFileImportAnnouncesItselfAndHonoursBlockScopeAndAttributes) {
    CComBSTR file = File("v.txt", kVarFile);
    CapturePipe out;
    rtopipe* saved = stdoutPipe;
    stdoutPipe = &out.pipe;
    const HRESULT hr = Import(file, NUVExternalFile_VarFile);
    stdoutPipe = saved;
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(out.text, "<Importing Variables from " + CComBSTR(file).ToUtf8() + ">\n");
    EXPECT_EQ(Value("A.K"), 5);
    EXPECT_EQ(Value("SEC.H.U"), 7);
    EXPECT_EQ(Lower("A.K"), 1);

    // Only the named block's variables; a nested block is found by its dotted name.
    CComBSTR again = File("v2.txt", "ATTRIBUTES NAME VALUE\nA.K 50\nSEC.H.U 70\n");
    ASSERT_EQ(Import(again, NUVExternalFile_VarFile, 0, "SEC.H"), S_OK);
    EXPECT_EQ(Value("A.K"), 5);
    EXPECT_EQ(Value("SEC.H.U"), 70);
    ASSERT_EQ(Import(again, NUVExternalFile_VarFile, 0, "a"), S_OK);
    EXPECT_EQ(Value("A.K"), 50);

    // A hierarchy as scope: its own container is read, names in the file stay full.
    CComBSTR scoped = File("v3.txt", "ATTRIBUTES NAME VALUE\nA.K 9\nSEC.H.U 11\n");
    ASSERT_EQ(Import(scoped, NUVExternalFile_VarFile, 0, "SEC", nullptr, nullptr, true), S_OK);
    EXPECT_EQ(Value("SEC.H.U"), 11);
    EXPECT_EQ(Value("A.K"), 50);

    // Only the selected attributes: LOWER is index 4.
    CComBSTR bounds = File("v4.txt", "ATTRIBUTES NAME VALUE LOWER\nA.K 3 -7\n");
    ASSERT_EQ(Import(bounds, NUVExternalFile_VarFile, 0x4), S_OK);
    EXPECT_EQ(Value("A.K"), 50);
    EXPECT_EQ(Lower("A.K"), -7);

    // A prefix of the file renamed to a block of the model.
    CComBSTR renamed = File("v5.txt", "ATTRIBUTES NAME VALUE\nOLD.K 12\n");
    ASSERT_EQ(Import(renamed, NUVExternalFile_VarFile, 0, nullptr, "OLD", "A"), S_OK);
    EXPECT_EQ(Value("A.K"), 12);
}

TEST_F(ExternalFileTest, EveryFailureIsAFailingResultWithItsText) {
    const CComBSTR vars = File("v.txt", kVarFile), blocks = File("b.xf", kBlockFile), dir = CComBSTR(dir_.c_str());
    const std::string missing = CComBSTR(Missing()).ToUtf8(), plain = CComBSTR(File("bad.txt", "just text\n")).ToUtf8();
    const auto query = [&](BSTR file, NUVExternalFileType type) {
        LONG attributes = 0;
        SAFEARRAY* ids = nullptr;
        const HRESULT hr = service_->QueryContents(file, type, &attributes, &ids);
        EXPECT_EQ(ids, nullptr);
        return hr;
    };
    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT hr;
        std::string text;
    };
    const auto notFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const Case cases[] = {
        {"query missing block file", [&] { return query(Missing(), NUVExternalFile_XFile); }, notFound,
         "Cannot open block file " + missing},
        {"query missing variable file", [&] { return query(Missing(), NUVExternalFile_VarFile); }, notFound,
         "Cannot open file " + missing},
        {"query a directory", [&] { return query(dir, NUVExternalFile_VarFile); }, notFound, "Cannot open file " + dir_},
        {"query not a block file", [&] { return query(vars, NUVExternalFile_XFile); }, E_FAIL,
         CComBSTR(vars).ToUtf8() + " is not a block file"},
        {"query not a variable file", [&] { return query(blocks, NUVExternalFile_VarFile); }, E_FAIL,
         CComBSTR(blocks).ToUtf8() + " is not a variable file"},
        {"query unknown type", [&] { return query(vars, static_cast<NUVExternalFileType>(7)); }, E_INVALIDARG,
         "Unknown file type 7"},
        {"import missing variable file", [&] { return Import(Missing(), NUVExternalFile_VarFile); }, notFound,
         "Cannot open file " + missing},
        {"import missing block file", [&] { return Import(Missing(), NUVExternalFile_XFile); }, notFound,
         "Cannot open block file " + missing},
        {"import unknown block", [&] { return Import(vars, NUVExternalFile_VarFile, 0, "NOSUCH"); },
         nuv::kObjectNotFound, "Unknown block NOSUCH"},
        {"import unknown block of a block file", [&] { return Import(blocks, NUVExternalFile_XFile, 0, "NOSUCH"); },
         nuv::kObjectNotFound, "Unknown block NOSUCH"},
        {"import no name", [&] { return Import(nullptr, NUVExternalFile_VarFile); }, E_FAIL, "No file name given"},
        {"import unknown type", [&] { return Import(vars, static_cast<NUVExternalFileType>(9)); }, E_INVALIDARG,
         "Unknown file type 9"},
        {"import existence test", [&] { return Import(vars, NUVExternalFile_FileExists); }, E_INVALIDARG,
         "Unknown file type 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.hr);
        auto error = TakeError();
        EXPECT_EQ(error.source, "NUVExternalFileService");
        EXPECT_EQ(error.description, c.text);
    }
    EXPECT_LT(Import(CComBSTR(plain.c_str()), NUVExternalFile_VarFile), 0) << "no variable file";
    EXPECT_EQ(TakeError().source, "NUVExternalFileService");
    EXPECT_EQ(Value("A.K"), 3) << "nothing was read";
}

TEST_F(ExternalFileTest, BlockFileImportByBlockAndWithRenamedPrefixes) {
    CComBSTR file = File("b.xf", kBlockFile);
    ASSERT_EQ(Import(file, NUVExternalFile_XFile, 0, "A"), S_OK);
    EXPECT_EQ(Value("A.K"), 6);
    EXPECT_EQ(Value("SEC.H.U"), 1) << "variables outside the block are left alone";
    ASSERT_EQ(Import(file, NUVExternalFile_XFile, 0x4), S_OK) << "slot 3 (LOWER) only";
    EXPECT_EQ(Lower("SEC.H.U"), 2);
    EXPECT_EQ(Value("SEC.H.U"), 1);
    ASSERT_EQ(Import(file, NUVExternalFile_XFile), S_OK);
    EXPECT_EQ(Value("SEC.H.U"), 8);

    // With a substitute the names that already carry it are skipped.
    CComBSTR renamed = File("r.xf", "XFILE\nMASK VALUE\nMEMBER X.BLK\nA.K 99\n");
    ASSERT_EQ(Import(renamed, NUVExternalFile_XFile, 0, nullptr, "OLD", "A"), S_OK);
    EXPECT_EQ(Value("A.K"), 6);
    // A block saved as OLD is read into A: OLD.K lands on A.K; names of other blocks are read as they are.
    CComBSTR old = File("o.xf", "XFILE\nMASK VALUE LOWER\nMEMBER OLD.BLK\nOLD.K 31 4\nSEC.H.U 32 5\n");
    ASSERT_EQ(Import(old, NUVExternalFile_XFile, 0, nullptr, "OLD", "A"), S_OK);
    EXPECT_EQ(Value("A.K"), 31);
    EXPECT_EQ(Lower("A.K"), 4);
    EXPECT_EQ(Value("SEC.H.U"), 32);
    // An empty substitute drops the prefix: names land in the target as they are.
    CComBSTR dropped = File("d.xf", "XFILE\nMASK VALUE\nMEMBER X.BLK\nOLD.A.K 21\n");
    ASSERT_EQ(Import(dropped, NUVExternalFile_XFile, 0, nullptr, "OLD", ""), S_OK);
    EXPECT_EQ(Value("A.K"), 21);
    // The match is a text, not a pattern: "SE*C" does not stand for SEC.
    CComBSTR literal = File("l.xf", "XFILE\nMASK VALUE\nMEMBER X.BLK\nSEC.H.U 55\n");
    ASSERT_EQ(Import(literal, NUVExternalFile_XFile, 0, nullptr, "SE*C", ""), S_OK);
    EXPECT_EQ(Value("SEC.H.U"), 55);
}

TEST_F(ExternalFileTest, ExportIsNotOfferedAndAGoneSimulationIsReported) {
    EXPECT_EQ(service_->Export(Text("x"), NUVExternalFile_VarFile, 0, nullptr), E_NOTIMPL);
    sim_.reset();
    EXPECT_EQ(service_->Export(Text("x"), NUVExternalFile_VarFile, 0, nullptr), DISP_E_EXCEPTION);
    auto error = TakeError();
    EXPECT_EQ(error.description, "Simulation No Longer Valid");
    EXPECT_EQ(error.source, "NUVExternalFileService");
    EXPECT_TRUE(IsEqualGUID(error.iid, IID_INUVExternalFileService));
    LONG attributes = 0;
    SAFEARRAY* ids = nullptr;
    EXPECT_EQ(service_->QueryContents(Text("x"), NUVExternalFile_FileExists, &attributes, &ids), DISP_E_EXCEPTION);
    EXPECT_EQ(service_->Import(Text("x"), NUVExternalFile_VarFile, 0, nullptr, nullptr, nullptr, VARIANT_FALSE),
              DISP_E_EXCEPTION);
}

}  // namespace
