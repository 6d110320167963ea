// Variable files and block files.
//
// Variable file:            Block file:
//   ATTRIBUTES NAME VALUE ...   XFILE
//   FEED.F 10 ...               MASK VALUE LOWER ...
//                               MEMBER FEED.BLK
//                               FEED.F 10 0
// Words are separated by blanks; double quotes keep blanks; '#' starts a comment line.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "model.h"
#include "nuv_file_replace.h"
#include "number_text.h"
#include "zeq_host.h"

namespace {

// Attribute bit of variable-file attribute index 1..27.
const unsigned kAttrBits[28] = {0,        0x1,      0x20,     0x800,    0x4,      0x2000,   0x4000,
                                0x2,      0x8,      0x80,     0x8000,   0x40,     0x100000, 0x10,
                                0x100,    0x1000,   0x10000,  0x20000,  0x200,    0x400,    0x40000,
                                0x80000,  0x200000, 0x400000, 0x800000, 0x1000000, 0x2000000, 0x4000000};

// Header name of an attribute bit; bits without a record attribute get "ATTR<index>".
std::string attr_name(int index) {
    static const struct { unsigned bit; const char* name; } names[] = {
        {0x1, "NAME"}, {0x2, "VALUE"}, {0x4, "LOWER"}, {0x8, "UPPER"}, {0x10, "STEP"}, {0x20, "INTSCALE"},
        {0x40, "SCALE"}, {0x80, "SBWEIGHT"}, {0x200, "INITIAL"}, {0x400, "UOM"}, {0x800, "BOUND"},
        {0x1000, "MARKED"}, {0x4000, "MODIFIED"}, {0x10000, "ACTIVE_BOUND"}, {0x20000, "SHADOW_PRICE"},
        {0x40000, "QUALITY"}, {0x80000, "BASEUOM"}, {0x100000, "PHYSICAL_TYPE_ID"}, {0x400000, "HOMO_PARAM"},
        {0x800000, "HOMO_TARGET"}, {0x1000000, "DESCRIPTION"}, {0x2000000, "VARIABLE_TYPE"},
        {0x4000000, "PROFILE"}};
    if (index < 1 || index > 27) return {};
    for (auto& n : names)
        if (n.bit == kAttrBits[index]) return n.name;
    return "ATTR" + std::to_string(index);
}

bool words(const std::string& line, std::vector<std::string>& out) {
    out.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string w;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) return false;
            w = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') w += line[i++];
        }
        out.push_back(std::move(w));
    }
    return true;
}

// A whole word as a decimal int; a number beyond int's range is refused rather than cut to it.
bool read_int(const std::string& text, int& out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

// Applies one attribute given as text to a variable through a record. Returns false when refused.
bool apply_attr(ZEQEOCntr* c, int index, unsigned bit, const std::string& text) {
    int id = static_cast<int>(bit);
    int type = ZEQVariableData::BaseType(id);
    if (bit == VA_NAME || bit == VA_BASEUOM || bit == VA_PROFILE || bit == VA_ACTIVE_BOUND || type == 0) return true;
    ZEQVariableData rec;
    rec.mask.Set(id);
    if (!rec.Load(c, nullptr, index, true)) return false;
    bool ok;
    if (type == ZEQ_TYPE_DOUBLE) {
        double d = 0;
        ok = zeq::ReadNumber(text, d) && std::isfinite(d) && rec.SetValue(id, d);
    } else if (type == ZEQ_TYPE_TEXT || type == ZEQ_TYPE_ENUM) {
        int n = 0;
        ok = rec.SetValue(id, text.c_str());
        if (!ok && type == ZEQ_TYPE_ENUM) ok = read_int(text, n) && rec.SetValue(id, n);
    } else {
        int n = 0;
        ok = read_int(text, n) && rec.SetValue(id, n);
    }
    return ok && rec.Commit(c, nullptr, index, true) == 0;
}

// The quantity columns: what a record shows of a variable's quantity in its unit, and the column that gives
// the quantity itself in base units when no number of the unit stands for it.
struct QuantityColumn {
    unsigned bit;
    const char* base_name;
    double zeq::Variable::*field;
    zeq::Quantity kind;
};
constexpr QuantityColumn kQuantityColumns[] = {{VA_VALUE, "BASE_VALUE", &zeq::Variable::value, zeq::Quantity::kValue},
                                               {VA_LOWER, "BASE_LOWER", &zeq::Variable::lower, zeq::Quantity::kLower},
                                               {VA_UPPER, "BASE_UPPER", &zeq::Variable::upper, zeq::Quantity::kUpper},
                                               {VA_INITIAL, "BASE_INITIAL", &zeq::Variable::initial,
                                                zeq::Quantity::kValue}};

int quantity_of_bit(unsigned bit) {
    for (int q = 0; q < 4; ++q)
        if (kQuantityColumns[q].bit == bit) return q;
    return -1;
}

int quantity_of_base_name(const std::string& name) {
    for (int q = 0; q < 4; ++q)
        if (zeq::iequals(name, kQuantityColumns[q].base_name)) return q;
    return -1;
}

// Sets quantity q of the variable at `index` to `base` (text, in base units), when `shown` (text, in the
// variable's unit) is the number a write shows for it. False when either is no number, the base quantity is
// not finite, or the two do not go together (a number changed in the unit beside a stale base quantity).
bool take_base_quantity(ZEQEOCntr* container, int index, int q, const std::string& base, const std::string& shown) {
    double b = 0, s = 0;
    if (!zeq::ReadNumber(base, b) || !std::isfinite(b) || !zeq::ReadNumber(shown, s)) return false;
    zeq::EngineCall call;
    auto* c = static_cast<zeq::Container*>(container);
    zeq::Variable& v = c->Sim()->Vars()[static_cast<size_t>(c->ToGlobal(index))];
    const QuantityColumn& quantity = kQuantityColumns[q];
    bool exact = true;
    const double expected = zeq::ShownQuantity(v.ptype, v.unit_entry, b, quantity.kind, exact);
    if (std::memcmp(&expected, &s, sizeof s) != 0) return false;
    v.*quantity.field = b;
    return true;
}

}  // namespace

int rtovarfile_attr_bit(int index) { return index >= 1 && index <= 27 ? static_cast<int>(kAttrBits[index]) : 0; }

int rtovarfile_attr_index(const char* name) {
    if (!name) return -1;
    for (int i = 1; i <= 27; ++i)
        if (zeq::iequals(attr_name(i), name)) return i;
    return -1;
}

unsigned rtovmask_slot_bit(int slot) {
    if (slot >= 1 && slot <= 20) return 1u << (slot - 1);
    if (slot >= 21 && slot <= 24) return 0x800000u << (slot - 21);
    return 0;
}

// ---- variable files ----

RTVarFileIO::RTVarFileIO(rtopipe* pipe, ZEQEOCntr* target, const char* match, const char* substitute)
    : pipe_(pipe), target_(target), match_(match ? match : ""), substitute_(substitute ? substitute : ""),
      attrib_selected_(28, false) {}

RTVarFileIO::~RTVarFileIO() = default;

void RTVarFileIO::Reset() {
    all_attribs_ = true;
    std::fill(attrib_selected_.begin(), attrib_selected_.end(), false);
    ranges_.clear();
    range_include_.clear();
    patterns_.clear();
    default_include_ = true;
}
void RTVarFileIO::ClearAttributes() {
    all_attribs_ = false;
    std::fill(attrib_selected_.begin(), attrib_selected_.end(), false);
}
void RTVarFileIO::AddAttribute(int index) {
    if (index >= 1 && index <= 27) attrib_selected_[static_cast<size_t>(index)] = true;
}
void RTVarFileIO::ClearIncluded() {
    ranges_.clear();
    range_include_.clear();
    patterns_.clear();
    default_include_ = false;
}
void RTVarFileIO::IncludeRange(int first, int count) {
    ranges_.emplace_back(first, count);
    range_include_.push_back(1);
}
void RTVarFileIO::ExcludeRange(int first, int count) {
    ranges_.emplace_back(first, count);
    range_include_.push_back(0);
}
void RTVarFileIO::IncludeAll() {
    ranges_.clear();
    range_include_.clear();
    patterns_.clear();
    default_include_ = true;
}
void RTVarFileIO::ExcludeAll() { ClearIncluded(); }
void RTVarFileIO::IncludePattern(const char* glob) {
    if (glob) patterns_.emplace_back(glob, true);
}
void RTVarFileIO::ExcludePattern(const char* glob) {
    if (glob) patterns_.emplace_back(glob, false);
}

bool RTVarFileIO::ReadAll() {
    if (read_) return true;
    read_ = true;
    columns_.clear();
    base_columns_.clear();
    lines_.clear();
    if (!pipe_) return false;
    std::vector<char> buf(65536);
    std::vector<std::string> w;
    bool header = false;
    while (rtoread_line(pipe_, buf.data(), static_cast<int>(buf.size()))) {
        std::string line = buf.data();
        if (!words(line, w)) {
            ++errors_;
            continue;
        }
        if (w.empty() || w[0][0] == '#') continue;
        if (!header) {
            if (!zeq::iequals(w[0], "ATTRIBUTES") || w.size() < 2 || !zeq::iequals(w[1], "NAME")) return false;
            for (size_t i = 2; i < w.size(); ++i) {
                columns_.push_back(rtovarfile_attr_index(w[i].c_str()));
                base_columns_.push_back(quantity_of_base_name(w[i]));
            }
            header = true;
            continue;
        }
        Line l;
        l.name = w[0];
        l.fields.assign(w.begin() + 1, w.end());
        lines_.push_back(std::move(l));
    }
    return header;
}

int RTVarFileIO::Run() {
    if (!ReadAll()) return ZEQ_E_SYNTAX;
    zeq::Simulation* active = zeq::ActiveSimulation();
    ZEQEOCntr* target = target_ ? target_ : (active ? active->GetFlowsheet() : nullptr);
    if (!target) return E_POINTER;
    auto* c = static_cast<zeq::Container*>(target);
    zeq::Simulation* sim = c->Sim();
    std::vector<hs_regex*> compiled;
    for (auto& p : patterns_) {
        char re[1024];
        compiled.push_back(stred_glob_to_regexp(p.first.c_str(), re, sizeof re) == 0 ? hs_regcomp(re + 1, 1) : nullptr);
    }
    int set = 0;
    for (const Line& l : lines_) {
        std::string name = l.name;
        if (!match_.empty()) {
            std::string prefix = match_ + ".";
            if (name.size() > prefix.size() && zeq::iequals(std::string_view(name).substr(0, prefix.size()), prefix))
                name = substitute_.empty() ? name.substr(prefix.size()) : substitute_ + "." + name.substr(prefix.size());
        }
        int pos = sim->FindVarIn(c, name);
        if (pos < 0) {
            ++errors_;
            continue;
        }
        int index = pos - c->first_ + 1;
        bool included = default_include_;
        for (size_t r = 0; r < ranges_.size(); ++r)
            if (index >= ranges_[r].first && index < ranges_[r].first + ranges_[r].second) included = range_include_[r] != 0;
        for (size_t p = 0; p < patterns_.size(); ++p)
            if (compiled[p] && hs_regexec(compiled[p], name.c_str())) included = patterns_[p].second;
        if (!included) continue;
        // The unit goes first so that the quantities on the line are read in it.
        bool ok = true;
        for (int pass = 0; pass < 2; ++pass)
            for (size_t col = 0; col < columns_.size() && col < l.fields.size(); ++col) {
                int ai = columns_[col];
                if (ai < 1 || (!all_attribs_ && !attrib_selected_[static_cast<size_t>(ai)])) continue;
                bool is_unit = kAttrBits[ai] == VA_UOM;
                if ((pass == 0) != is_unit || l.fields[col] == "-") continue;
                ok = apply_attr(c, index, kAttrBits[ai], l.fields[col]) && ok;
            }
        // A quantity given in base units too replaces what its number in the unit was read as.
        for (size_t col = 0; ok && col < base_columns_.size() && col < l.fields.size(); ++col) {
            const int q = base_columns_[col];
            if (q < 0 || l.fields[col] == "-") continue;
            const std::string* shown = nullptr;
            bool present = false;
            for (size_t at = 0; at < columns_.size() && at < l.fields.size(); ++at) {
                const int ai = columns_[at];
                if (ai < 1 || kAttrBits[ai] != kQuantityColumns[q].bit) continue;
                present = true;
                if ((all_attribs_ || attrib_selected_[static_cast<size_t>(ai)]) && l.fields[at] != "-")
                    shown = &l.fields[at];
            }
            if (!present) ok = false;
            else if (shown) ok = take_base_quantity(c, index, q, l.fields[col], *shown);
        }
        if (ok)
            ++set;
        else
            ++errors_;
    }
    for (hs_regex* r : compiled) hs_regfree(r);
    return set;
}

RTVarFileQry::RTVarFileQry(rtopipe* pipe) : RTVarFileIO(pipe, nullptr, nullptr, nullptr) {}

int RTVarFileQry::Go() {
    if (!ReadAll()) return ZEQ_E_SYNTAX;
    blocks_.clear();
    for (const Line& l : lines_) {
        size_t dot = l.name.find('.');
        std::string block = zeq::to_upper(dot == std::string::npos ? std::string() : l.name.substr(0, dot));
        if (block.empty()) continue;
        bool seen = false;
        for (auto& b : blocks_) seen = seen || b == block;
        if (!seen) blocks_.push_back(block);
    }
    return static_cast<int>(lines_.size());
}

int RTVarFileQry::AttrAt(int i) const {
    if (i < 0 || i >= static_cast<int>(columns_.size())) return -1;
    return columns_[static_cast<size_t>(i)];
}

const char* RTVarFileQry::BlockIDAt(int i) const {
    return i >= 0 && i < static_cast<int>(blocks_.size()) ? blocks_[static_cast<size_t>(i)].c_str() : nullptr;
}

namespace zeq {

RTVarFileIO* Container::CreateVarFileImporter(rtopipe* pipe, const char* match, const char* substitute) {
    if (!pipe) return nullptr;
    sim_->Journal("CreateVarFileImporter");
    return new RTVarFileIO(pipe, this, match, substitute);
}

}  // namespace zeq

// ---- block files ----

struct rtxfile {
    struct Member {
        std::string name;
        std::vector<std::vector<std::string>> lines;
    };
    std::vector<int> slots;  // slot per column
    std::vector<Member> members;
    rtovmask mask;
};

namespace {

int slot_of(const std::string& name) {
    for (int s = 1; s <= 24; ++s) {
        unsigned bit = rtovmask_slot_bit(s);
        for (int i = 1; i <= 27; ++i)
            if (kAttrBits[i] == bit && zeq::iequals(attr_name(i), name)) return s;
    }
    return -1;
}

std::unique_ptr<rtxfile> read_xfile(const char* path) {
    if (!path) return nullptr;
    std::ifstream in(path);
    if (!in) return nullptr;
    auto f = std::make_unique<rtxfile>();
    std::string line;
    std::vector<std::string> w;
    bool magic = false, mask = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!words(line, w)) return nullptr;
        if (w.empty() || w[0][0] == '#') continue;
        if (!magic) {
            if (!zeq::iequals(w[0], "XFILE")) return nullptr;
            magic = true;
        } else if (!mask) {
            if (!zeq::iequals(w[0], "MASK")) return nullptr;
            for (size_t i = 1; i < w.size(); ++i) f->slots.push_back(slot_of(w[i]));
            mask = true;
        } else if (zeq::iequals(w[0], "MEMBER") && w.size() == 2) {
            f->members.push_back(rtxfile::Member{w[1], {}});
        } else if (!f->members.empty()) {
            f->members.back().lines.push_back(w);
        } else {
            return nullptr;
        }
    }
    return mask ? std::move(f) : nullptr;
}

}  // namespace

extern "C" {

void vmask_select_default(rtovmask* mask) {
    if (!mask) return;
    *mask = rtovmask{};
    mask->slot[2] = mask->slot[3] = mask->slot[4] = true;  // VALUE, LOWER, UPPER
}

rtxfile* RTXFILE_OPEN(const char* path, const rtovmask* mask) {
    std::unique_ptr<rtxfile> f = read_xfile(path);
    if (!f) return nullptr;
    if (mask) f->mask = *mask;
    return f.release();
}

int RTXFILE_QUERY(rtxfile* file, rtxfile_member_fn fn, void* context, rtovmask* present) {
    if (!file) return -1;
    if (present) {
        *present = rtovmask{};
        for (int s : file->slots)
            if (s > 0) present->slot[s] = true;
    }
    for (auto& m : file->members)
        if (fn) fn(context, m.name.c_str());
    return static_cast<int>(file->members.size());
}

void RTXFILE_CLOSE(rtxfile* file) { delete file; }

int RTVARFILE_WRITE(ZEQEOCntr* container, const char* path, const int* attrs, int count) {
    if (!container || !path || count < 0 || (count > 0 && !attrs)) return E_INVALIDARG;
    // The file is made whole in memory and put in place in one step: a failed write keeps the old file.
    std::vector<int> cols;
    for (int i = 0; i < count; ++i)
        if (attrs[i] >= 2 && attrs[i] <= 27 && kAttrBits[attrs[i]] != VA_NAME) cols.push_back(attrs[i]);
    auto quoted = [](const std::string& s) {
        if (!s.empty() && s.find_first_of(" \t\"") == std::string::npos) return s;
        std::string q = "\"";
        for (char c : s) q += c == '"' ? '\'' : c;
        return q + "\"";
    };
    // Quantities are written in the variable's unit, as the numbers that read back as the very quantities
    // kept. One that no number of the unit stands for is given in base units too, in a BASE_ column of its
    // own after the others ("-" in the rows that need none), which a file has only when some row needs it.
    struct Row {
        std::string text;
        double base[4] = {};
        unsigned char in_base = 0;  // bit q: base[q] is given
    };
    std::vector<Row> rows;
    unsigned char needed = 0;
    auto* c = static_cast<zeq::Container*>(container);
    for (int index = 1; index <= container->GetCount(); ++index) {
        ZEQVariableData rec;
        rec.mask.Set(0x7fffffff);
        if (!rec.Load(container, nullptr, index, true)) return ZEQ_E_NOT_FOUND;
        const zeq::Variable& v = c->Sim()->Vars()[static_cast<size_t>(c->ToGlobal(index))];
        const char* name = nullptr;
        rec.GetValue(VA_NAME, name);
        Row& row = rows.emplace_back();
        std::ostringstream out;
        out << quoted(name ? name : "");
        for (int col : cols) {
            int id = static_cast<int>(kAttrBits[col]);
            double d;
            int i;
            const char* s = nullptr;
            if (const int q = quantity_of_bit(kAttrBits[col]); q >= 0) {
                const QuantityColumn& quantity = kQuantityColumns[q];
                bool exact = true;
                out << " " << zeq::NumberText(zeq::ShownQuantity(v.ptype, v.unit_entry, v.*quantity.field,
                                                                 quantity.kind, exact));
                if (!exact) {
                    row.base[q] = v.*quantity.field;
                    row.in_base |= static_cast<unsigned char>(1 << q);
                }
            } else if (rec.GetValue(id, d)) {
                out << " " << zeq::NumberText(d);
            } else if (rec.GetValue(id, s)) {
                out << " " << quoted(s ? s : "");
            } else if (rec.GetValue(id, i)) {
                out << " " << i;
            } else {
                out << " -";
            }
        }
        row.text = out.str();
        needed |= row.in_base;
    }
    std::ostringstream out;
    out << "ATTRIBUTES NAME";
    for (int col : cols) out << " " << attr_name(col);
    for (int q = 0; q < 4; ++q)
        if (needed & (1 << q)) out << " " << kQuantityColumns[q].base_name;
    out << "\n";
    for (const Row& row : rows) {
        out << row.text;
        for (int q = 0; q < 4; ++q)
            if (needed & (1 << q)) out << " " << (row.in_base & (1 << q) ? zeq::NumberText(row.base[q]) : "-");
        out << "\n";
    }
    return nuv::WriteFileWhole(path, out.str()) == nuv::FileWrite::kWritten ? 0 : ZEQ_E_FILE;
}

}  // extern "C"

namespace zeq {

namespace {
struct Rewrite {
    std::regex re;
    std::string replacement;
    bool ok = false;
};
}  // namespace

int Container::ImportBlockFile(const char* path, const rtovmask* mask, gl_list* patterns, const int64_t* skip) {
    sim_->Journal(std::string("ImportBlockFile ") + (path ? path : "(null)"));
    std::unique_ptr<rtxfile> f = read_xfile(path);
    if (!f) return ZEQ_E_FILE;
    rtovmask chosen;
    if (mask)
        chosen = *mask;
    else
        vmask_select_default(&chosen);
    // Pattern list: alternating texts (pattern, replacement); a pattern starts after one blank and is anchored
    // by its own "^"; the replacement "$NOMATCH$" skips names that match.
    std::vector<std::unique_ptr<Rewrite>> rewrites;
    for (int p = gl_top(patterns); !gl_end(patterns, p) && !gl_end(patterns, gl_next(patterns, p));
         p = gl_next(patterns, gl_next(patterns, p))) {
        const char* pat = static_cast<const char*>(gl_get(patterns, p));
        const char* rep = static_cast<const char*>(gl_get(patterns, gl_next(patterns, p)));
        auto r = std::make_unique<Rewrite>();
        std::string text = pat ? pat : "";
        if (!text.empty() && text[0] == ' ') text.erase(0, 1);
        try {
            r->re = std::regex(text, std::regex::extended | std::regex::icase);
            r->ok = true;
        } catch (const std::regex_error&) {
            r->ok = false;
        }
        r->replacement = rep ? rep : "";
        rewrites.push_back(std::move(r));
    }
    int set = 0, errors = 0;
    for (auto& m : f->members)
        for (auto& line : m.lines) {
            if (line.empty()) continue;
            std::string name = line[0];
            bool skipped = false;
            for (auto& r : rewrites) {
                std::smatch match;
                if (!r->ok || !std::regex_search(name, match, r->re)) continue;
                if (r->replacement == "$NOMATCH$") {
                    skipped = true;
                } else {
                    // The matched text is replaced as it is: a pattern that takes the "." after a prefix
                    // drops it, one that stops before it keeps it after the replacement.
                    name = match.prefix().str() + r->replacement + match.suffix().str();
                }
                break;
            }
            if (skipped) continue;
            int pos = sim_->FindVarIn(this, name);
            if (pos < 0) {
                ++errors;
                continue;
            }
            int index = pos - first_ + 1;
            if (skip && skip[index - 1]) continue;
            bool ok = true;
            for (int pass = 0; pass < 2; ++pass)
                for (size_t col = 0; col < f->slots.size() && col + 1 < line.size(); ++col) {
                    int s = f->slots[col];
                    if (s < 1 || !chosen.slot[s]) continue;
                    unsigned bit = rtovmask_slot_bit(s);
                    if ((pass == 0) != (bit == VA_UOM) || line[col + 1] == "-") continue;
                    ok = apply_attr(this, index, bit, line[col + 1]) && ok;
                }
            ok ? ++set : ++errors;
        }
    if (errors) sim_->Print("Block file " + std::string(path) + ": " + std::to_string(errors) + " lines not applied");
    return set;
}

}  // namespace zeq
