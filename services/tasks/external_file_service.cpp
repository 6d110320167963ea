#include "external_file_service.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine_text.h"
#include "nuv_text.h"
#include "rezoraruz.h"

namespace {

const nuv::SimServiceRegistration kRegistration(IID_INUVExternalFileService, &CoNUVExternalFileService::Make);

const HRESULT kNoFile = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// A failure with its text as the thread's error information.
HRESULT Fail(HRESULT hr, const std::string& text) {
    return ReportErrorText(IID_INUVExternalFileService, CoNUVExternalFileService::kErrorSource, text.c_str(), hr);
}
HRESULT UnknownBlock(const std::string& name) { return Fail(nuv::kObjectNotFound, "Unknown block " + name); }

constexpr uint32_t kAttributeBits[28] = {
    0,        0x1,      0x20,     0x800,    0x4,       0x2000,    0x4000,   0x2,      0x8,       0x80,
    0x8000,   0x40,     0x100000, 0x10,     0x100,     0x1000,    0x10000,  0x20000,  0x200,     0x400,
    0x40000,  0x80000,  0x200000, 0x400000, 0x800000,  0x1000000, 0x2000000, 0x4000000};

// While it lives the engine's history and report output goes nowhere; the devices in place before are
// put back (report first, then history) when it goes.
class SilencedDevices {
public:
    SilencedDevices() : history_(copyPipe(rtHisDev)), report_(copyPipe(rtRepDev)) {
        rtohis_set_hisDev(nowherePipe);
        rtorep_set_repDev(nowherePipe);
    }
    ~SilencedDevices() {
        rtorep_set_repDev(report_);
        rtohis_set_hisDev(history_);
        rtodestroy(report_);
        rtodestroy(history_);
    }
    SilencedDevices(const SilencedDevices&) = delete;
    SilencedDevices& operator=(const SilencedDevices&) = delete;

private:
    rtopipe* history_;
    rtopipe* report_;
};

// An input pipe over an opened file; the file is closed with the pipe.
struct InputPipe {
    rtopipe* pipe = nullptr;
    FILE* file = nullptr;
    ~InputPipe() {
        if (pipe)
            rtodestroy(pipe);
        else if (file)
            std::fclose(file);
    }
};

// The name is UTF-8, as every text the system hands to the engine.
std::filesystem::path PathOf(const std::string& name) { return std::u8string(name.begin(), name.end()); }

bool IsRegularFile(const std::string& name) {
    std::error_code error;
    return !name.empty() && std::filesystem::is_regular_file(PathOf(name), error);
}

// A block file the engine could not open: missing, or not a block file.
HRESULT BlockFileFailure(const std::string& name) {
    return IsRegularFile(name) ? Fail(E_FAIL, name + " is not a block file")
                               : Fail(kNoFile, "Cannot open block file " + name);
}

// Opens a regular file for reading; a reported failure when it cannot be.
HRESULT OpenInput(const std::string& name, InputPipe& input) {
    if (!IsRegularFile(name) || !(input.file = std::fopen(name.c_str(), "r")))
        return Fail(kNoFile, "Cannot open file " + name);
    input.pipe = create_ascii_stream_rtopipe(input.file, name.c_str(), 1);
    return input.pipe ? S_OK : Fail(E_FAIL, "Cannot read file " + name);
}

// Collects the block ids of a block file's members: "<block>.BLK", upper-cased, without the ending.
int CollectBlockFileName(void* context, const char* member) {
    if (!member) return 0;
    std::string name(member);
    stred_upper_case(name.data());
    const size_t end = name.find(".BLK");
    if (end != std::string::npos) static_cast<std::set<std::string>*>(context)->insert(name.substr(0, end));
    return 0;
}

template <class Ids>
HRESULT IdArray(const Ids& ids, SAFEARRAY** out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 1, static_cast<ULONG>(ids.size()));
    if (!array) return E_OUTOFMEMORY;
    LONG position = 1;
    for (const std::string& id : ids) {
        CComBSTR text(id);
        if (HRESULT hr = SafeArrayPutElement(array, &position, text.m_str); FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
        ++position;
    }
    *out = array;
    return S_OK;
}

// The range of `block`'s variables in `target`'s numbering: first index (1-based) and count; count 0
// when the block has no variables or lies outside the target. The block's own numbers count in its
// parent container, which for a nested block is not the target, so its first variable is found by name.
struct Range {
    int first = 0;
    int count = 0;
};
Range RangeIn(ZEQEOCntr* target, ZEQEOCntr* flowsheet, ZEQEOBlock* block) {
    const int count = block->GetCount();
    ZEQEOCntr* parent = block->GetParentContainer(flowsheet);
    if (count < 1 || !parent) return {};
    ZEQVariableData record;
    record.SetMask(VA_NAME, 0);
    const char* name = nullptr;
    if (!record.Load(parent, nullptr, block->GetFirstIndex(), true) || !record.GetValue(VA_NAME, name) || !name)
        return {};
    const int first = target->FindIndex(name);
    return first < 1 ? Range{} : Range{first, count};
}

// One flag per variable of the target: 1 for those outside the block, 0 inside; all 0 without a block.
std::vector<int64_t> SkipFlags(ZEQEOCntr* target, ZEQEOCntr* flowsheet, ZEQEOBlock* block) {
    const int n = std::max(target->GetCount(), 0);
    std::vector<int64_t> flags(static_cast<size_t>(n) + 1, 0);
    if (!block) return flags;
    const Range range = RangeIn(target, flowsheet, block);
    for (int i = 1; i <= n; ++i)
        flags[static_cast<size_t>(i) - 1] = (i >= range.first && i < range.first + range.count) ? 0 : 1;
    return flags;
}

// A block-file name pattern: a blank, "^", then the text matched as it is (every pattern character escaped).
char* Pattern(const std::string& text, bool trailing_dot) {
    std::string pattern = " ^";
    for (char c : text) {
        if (std::strchr("\\^$.|?*+()[]{}", c)) pattern += '\\';
        pattern += c;
    }
    if (trailing_dot) pattern += "\\.";
    return strdup(pattern.c_str());
}

struct PatternList {
    gl_list* list = gl_create(4);
    ~PatternList() { gl_destroy(list, &std::free); }
    void Add(char* pattern, const std::string& replacement) {
        gl_addtoend(list, pattern);
        gl_addtoend(list, strdup(replacement.c_str()));
    }
};

HRESULT ImportVariableFile(const std::string& file, ZEQEOCntr* flowsheet, LONG attributes, const std::string& blockid,
                           const std::string& match, const std::string& substitute, bool usescope) {
    InputPipe input;
    if (HRESULT hr = OpenInput(file, input); FAILED(hr)) return hr;
    ZEQEOCntr* target = flowsheet;
    ZEQEOBlock* block = nullptr;
    if (!blockid.empty()) {
        block = target->FindBlock(blockid.c_str());
        if (!block) return UnknownBlock(blockid);
        if (ZEQEOCntr* own = usescope ? block->GetSubContainer(target) : nullptr) {
            target = own;
            block = nullptr;
        }
    }
    if (!match.empty()) {
        ZEQEOBlock* matched = target->FindBlock(match.c_str());
        if (ZEQEOCntr* own = matched ? matched->GetSubContainer(target) : nullptr) target = own;
    }
    // The reader is always made by the target, so that it applies to this simulation's container.
    std::unique_ptr<RTVarFileIO> reader(target->CreateVarFileImporter(
        input.pipe, match.empty() ? nullptr : match.c_str(), match.empty() ? nullptr : substitute.c_str()));
    if (!reader) return Fail(E_FAIL, "Cannot read variables from " + file);
    if (attributes != 0) {
        reader->ClearAttributes();
        for (int i = 1; i <= 27; ++i)
            if (static_cast<uint32_t>(attributes) & kAttributeBits[i]) reader->AddAttribute(i);
    }
    if (block) {
        const Range range = RangeIn(target, flowsheet, block);
        reader->ClearIncluded();
        if (range.count > 0) reader->IncludeRange(range.first, range.count);
    }
    const HRESULT hr = nuv::EngineCall(CoNUVExternalFileService::kErrorSource, [&] { return reader->Run(); });
    return FAILED(hr) ? hr : S_OK;
}

HRESULT ImportBlockFile(const std::string& file, ZEQEOCntr* flowsheet, LONG attributes, const std::string& blockid,
                        const std::string& match, const std::string* substitute, bool usescope) {
    SilencedDevices quiet;
    rtovmask mask;
    if (attributes == 0) {
        vmask_select_default(&mask);
    } else {
        // The bits QueryContents reports select the same slots.
        for (int slot = 1; slot <= 24; ++slot)
            mask.slot[slot] = (static_cast<uint32_t>(attributes) & nuv::varfile::SlotBit(slot)) ? 1 : 0;
    }
    ZEQEOCntr* target = flowsheet;
    ZEQEOBlock* block = nullptr;
    if (!blockid.empty()) {
        block = target->FindBlock(blockid.c_str());
        if (!block) return UnknownBlock(blockid);
        if (ZEQEOCntr* own = usescope ? block->GetSubContainer(target) : nullptr) {
            target = own;
            block = nullptr;
        }
    }
    zeq_clear_message();
    int result = 0;
    if (match.empty()) {
        std::vector<int64_t> skip = SkipFlags(target, flowsheet, block);
        result = target->ImportBlockFile(file.c_str(), &mask, nullptr, skip.data());
    } else {
        ZEQEOBlock* matched = target->FindBlock(match.c_str());
        if (ZEQEOCntr* own = matched ? matched->GetSubContainer(target) : nullptr) target = own;
        // The flags follow the container the file is read into.
        std::vector<int64_t> skip = SkipFlags(target, flowsheet, block);
        const bool substituted = substitute && !substitute->empty();
        PatternList patterns;
        if (substituted) patterns.Add(Pattern(*substitute, false), "$NOMATCH$");
        patterns.Add(Pattern(match, !substituted), substituted ? *substitute : std::string());
        result = target->ImportBlockFile(file.c_str(), &mask, patterns.list, skip.data());
    }
    if (result == ZEQ_E_FILE) return BlockFileFailure(file);
    return result < 0 ? ReportEngineResult(CoNUVExternalFileService::kErrorSource, result) : S_OK;
}

}  // namespace

namespace nuv::varfile {

uint32_t AttributeBit(int index) { return index >= 1 && index <= 27 ? kAttributeBits[index] : 0; }

uint32_t SlotBit(int slot) {
    if (slot >= 1 && slot <= 20) return 1u << (slot - 1);
    if (slot >= 21 && slot <= 24) return 0x800000u << (slot - 21);
    return 0;
}

}  // namespace nuv::varfile

HRESULT CoNUVExternalFileService::UnknownType(NUVExternalFileType type) {
    return Fail(E_INVALIDARG, "Unknown file type " + std::to_string(static_cast<int>(type)));
}

HRESULT CoNUVExternalFileService::InvalidSimulation() const {
    return ReportErrorText(IID_INUVExternalFileService, kErrorSource, "Simulation No Longer Valid", 0);
}

STDMETHODIMP CoNUVExternalFileService::QueryContents(BSTR filename, NUVExternalFileType type, LONG* attributes,
                                                     SAFEARRAY** blockIds) {
    if (!attributes || !blockIds) return ReportStandard(E_POINTER);
    *blockIds = nullptr;
    *attributes = 0;
    if (!binding_.IsValid()) return InvalidSimulation();
    const nuv::EngineText name(filename);
    if (!name.Whole()) return Fail(E_INVALIDARG, "A file name holds a NUL character");
    const std::string& file = name.str();
    switch (type) {
    case NUVExternalFile_XFile: {
        rtovmask mask;
        vmask_select_default(&mask);
        SilencedDevices quiet;
        rtxfile* opened = file.empty() ? nullptr : RTXFILE_OPEN(file.c_str(), &mask);
        if (!opened) return BlockFileFailure(file);
        std::set<std::string> ids;
        rtovmask present;
        RTXFILE_QUERY(opened, &CollectBlockFileName, &ids, &present);
        RTXFILE_CLOSE(opened);
        LONG bits = 0;
        for (int slot = 1; slot <= 24; ++slot)
            if (present.slot[slot]) bits |= static_cast<LONG>(nuv::varfile::SlotBit(slot));
        *attributes = bits;
        return IdArray(ids, blockIds);
    }
    case NUVExternalFile_VarFile: {
        InputPipe input;
        if (HRESULT hr = OpenInput(file, input); FAILED(hr)) return hr;
        RTVarFileQry query(input.pipe);
        if (query.Go() < 0) return Fail(E_FAIL, file + " is not a variable file");
        LONG bits = 0;
        for (int i = 0; i < query.NumAttr(); ++i)
            if (int index = query.AttrAt(i); index != -1) bits |= static_cast<LONG>(nuv::varfile::AttributeBit(index));
        std::vector<std::string> ids;
        for (int i = 0; i < query.NumBlocks(); ++i)
            if (const char* id = query.BlockIDAt(i)) ids.emplace_back(id);
        *attributes = bits;
        return IdArray(ids, blockIds);
    }
    case NUVExternalFile_FileExists: {
        std::error_code error;
        return !file.empty() && std::filesystem::exists(PathOf(file), error) ? S_OK : S_FALSE;
    }
    default:
        return UnknownType(type);
    }
}

STDMETHODIMP CoNUVExternalFileService::Import(BSTR filename, NUVExternalFileType type, LONG attributes, BSTR blockid,
                                              BSTR match, BSTR substitute, VARIANT_BOOL usescope) {
    const nuv::SimulationUse use = binding_.Use();
    ZEQEOSimulation* sim = use.get();
    if (!binding_.IsValid() || !sim) return InvalidSimulation();
    ZEQEOCntr* flowsheet = sim->GetFlowsheet();
    if (!flowsheet) return InvalidSimulation();
    // Only the two kinds of file hold variables to read.
    if (type != NUVExternalFile_XFile && type != NUVExternalFile_VarFile) return UnknownType(type);
    const nuv::EngineText name(filename), blockName(blockid), matchName(match), substituteName(substitute);
    for (const nuv::EngineText* text : {&name, &blockName, &matchName, &substituteName})
        if (!text->Whole()) return Fail(E_INVALIDARG, "A name holds a NUL character");
    const std::string& file = name.str();
    if (file.empty()) return Fail(E_FAIL, "No file name given");
    const std::string line = "<Importing Variables from " + file + ">\n";
    rtowrite(rtostdout_current(), line.c_str(), static_cast<int>(line.size()));
    rtoflush(rtostdout_current());

    const std::string& block = blockName.str();
    const std::string& matchText = matchName.str();
    const std::string& substituteText = substituteName.str();
    const bool scoped = usescope != VARIANT_FALSE;
    return type == NUVExternalFile_XFile
               ? ImportBlockFile(file, flowsheet, attributes, block, matchText,
                                 substitute ? &substituteText : nullptr, scoped)
               : ImportVariableFile(file, flowsheet, attributes, block, matchText, substituteText, scoped);
}

STDMETHODIMP CoNUVExternalFileService::Export(BSTR, NUVExternalFileType, LONG, SAFEARRAY*) {
    if (!binding_.IsValid()) return InvalidSimulation();
    return ReportStandard(E_NOTIMPL);
}
