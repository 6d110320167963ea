// Run mode, signals, version texts, tags, text helpers and regular expressions.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "names.h"
#include "zeq_lib.h"

// POSIX extended syntax, matched anywhere in the text.
struct hs_regex {
    std::regex re;
    std::string pattern;
    int icase;
};

namespace {
std::atomic<int> g_mode{ZEQ_MODE_SIMULATION};
std::atomic<int> g_severity{0};
std::atomic<int> g_ctrlc{0};
}  // namespace

extern "C" {

int rto_inq_mode_c(int* mode) {
    int m = g_mode.load();
    if (mode) *mode = m;
    return m;
}
int rto_set_mode_c(int mode) {
    if (mode < 0 || mode > 3) return -1;
    g_mode = mode;
    return 0;
}
void rtosignal_set_severity(int level) { g_severity = level; }
int rtosignal_inq_severity(void) { return g_severity.load(); }
void rtosignal_set_ctrlc(void) { g_ctrlc = 1; }
void rtosignal_clear_ctrlc(void) { g_ctrlc = 0; }
int rtosignal_inq_ctrlc(void) { return g_ctrlc.load(); }

const char* rtoMajorVersion(void) { return "38"; }
const char* rtoMinorVersion(void) { return "0"; }
const char* rtoBuildNum(void) { return "1"; }
const char* rtoBuildDate(void) { return __DATE__; }
const char* rtoBuildUserName(void) { return "nuv"; }

int stred_caseless_cmp(const char* a, const char* b) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(zeq::upper_ascii(*a));
        int cb = static_cast<unsigned char>(zeq::upper_ascii(*b));
        if (ca != cb || !ca) return ca - cb;
    }
}

char* stred_upper_case(char* s) {
    for (char* p = s; p && *p; ++p) *p = zeq::upper_ascii(*p);
    return s;
}

int stred_glob_to_regexp(const char* glob, char* buf, int size) {
    if (!glob || !buf || size < 4) return -1;
    std::string re = "^";
    for (const char* p = glob; *p; ++p) {
        switch (*p) {
            case '*': re += ".*"; break;
            case '?': re += "."; break;
            case '[': {
                const char* close = std::strchr(p + 1, ']');
                if (close) {
                    re.append(p, static_cast<size_t>(close - p + 1));
                    p = close;
                } else {
                    re += "\\[";
                }
                break;
            }
            case '.': case '\\': case '+': case '(': case ')': case '{': case '}': case '|': case '^': case '$':
                re += '\\';
                re += *p;
                break;
            default: re += *p;
        }
    }
    re += "$";
    if (re.size() + 2 > static_cast<size_t>(size)) return -1;
    buf[0] = ' ';
    std::memcpy(buf + 1, re.c_str(), re.size() + 1);
    return 0;
}

hs_regex* hs_regcomp(const char* pattern, int icase) {
    if (!pattern) return nullptr;
    auto flags = std::regex::extended | std::regex::nosubs;
    if (icase) flags |= std::regex::icase;
    try {
        return new hs_regex{std::regex(pattern, flags), pattern, icase};
    } catch (const std::exception&) {
        return nullptr;
    }
}

int hs_regexec(const hs_regex* re, const char* text) {
    if (!re || !text) return 0;
    try {
        return std::regex_search(text, re->re) ? 1 : 0;
    } catch (const std::exception&) {
        return 0;  // too complex to match
    }
}

hs_regex* hs_regcopy(const hs_regex* re) { return re ? hs_regcomp(re->pattern.c_str(), re->icase) : nullptr; }

void hs_regfree(hs_regex* re) {
    delete re;
}

}  // extern "C"
