// Variable files (text: a header of attribute names, then one line per variable) and block files
// (members named "<block>.BLK" holding variable lines for the slots of a variable mask).
#pragma once
#include <string>
#include <vector>

struct rtopipe;
class ZEQEOCntr;

// Attribute index 1..27 of a variable file and the variable attribute bit it stands for.
int rtovarfile_attr_bit(int index);
// Index 1..27 of an attribute name used in a variable-file header; -1 when unknown.
int rtovarfile_attr_index(const char* name);

// Slots 1..24 of a variable mask (selected or not).
struct rtovmask {
    bool slot[25] = {};
};
// Attribute bit of mask slot 1..24 (slots 1..20: bits 0..19; 21..24: 0x800000..0x4000000).
unsigned rtovmask_slot_bit(int slot);

typedef int (*rtxfile_member_fn)(void* context, const char* member);
struct rtxfile;

extern "C" {
void vmask_select_default(rtovmask* mask);
// Opens a block file for reading with the mask; null when it cannot be read.
rtxfile* RTXFILE_OPEN(const char* path, const rtovmask* mask);
// Calls fn once per member; present gets the slots that occur in the file. Returns the member count.
int RTXFILE_QUERY(rtxfile* file, rtxfile_member_fn fn, void* context, rtovmask* present);
void RTXFILE_CLOSE(rtxfile* file);
// Writes every variable of the container to a variable file with the given attribute columns (1..27; NAME
// always comes first). 0, or negative when the file cannot be written.
int RTVARFILE_WRITE(ZEQEOCntr* container, const char* path, const int* attrs, int count);
}

// Reads a variable file from an input pipe into a container: attribute selection, included variable
// ranges and name patterns, then Run.
class RTVarFileIO {
public:
    RTVarFileIO(rtopipe* pipe, ZEQEOCntr* target, const char* match, const char* substitute);
    // A reader with no target container: Run applies the file to the active simulation's flowsheet.
    explicit RTVarFileIO(rtopipe* pipe) : RTVarFileIO(pipe, nullptr, nullptr, nullptr) {}
    virtual ~RTVarFileIO();
    RTVarFileIO(const RTVarFileIO&) = delete;
    RTVarFileIO& operator=(const RTVarFileIO&) = delete;

    void Reset();  // every attribute of the file, every variable
    void ClearAttributes();
    void AddAttribute(int index);  // 1..27
    void ClearIncluded();          // includes nothing until an include
    // Ranges are 1-based in the target container.
    void IncludeRange(int first, int count);
    void ExcludeRange(int first, int count);
    void IncludeAll();
    void ExcludeAll();
    void IncludePattern(const char* glob);
    void ExcludePattern(const char* glob);
    // Reads the file and applies it. Returns the number of variables set, or negative on a read error.
    virtual int Run();
    int ErrorCount() const { return errors_; }

protected:
    struct Line {
        std::string name;
        std::vector<std::string> fields;
    };
    // Reads the header and lines; false on a malformed header.
    bool ReadAll();
    rtopipe* pipe_;
    ZEQEOCntr* target_;
    std::string match_, substitute_;
    std::vector<int> columns_;  // attribute index per column (-1 unknown)
    // Per column, the quantity it gives in base units (0 value, 1 lower, 2 upper, 3 initial; -1 none).
    std::vector<int> base_columns_;
    std::vector<Line> lines_;
    std::vector<bool> attrib_selected_;  // by index 1..27
    bool all_attribs_ = true;
    std::vector<std::pair<int, int>> ranges_;  // (first, count, included) kept in order
    std::vector<int> range_include_;
    std::vector<std::pair<std::string, bool>> patterns_;
    bool default_include_ = true;
    int errors_ = 0;
    bool read_ = false;
};

// Reads only what a variable file holds: its attribute columns and block ids.
class RTVarFileQry : public RTVarFileIO {
public:
    explicit RTVarFileQry(rtopipe* pipe);
    // Reads the file's header and lines (nothing is applied). The line count, or negative for a bad header.
    int Go();
    int NumAttr() const { return static_cast<int>(columns_.size()); }
    // Attribute index (1..27) of column i (0-based); -1 (all bits set) for an unknown column.
    int AttrAt(int i) const;
    int NumBlocks() const { return static_cast<int>(blocks_.size()); }
    const char* BlockIDAt(int i) const;  // 0-based

private:
    std::vector<std::string> blocks_;
};
