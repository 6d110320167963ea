// Engine library functions: run mode, signals, version texts, tags, text and pattern helpers, and
// variable questions by flowsheet index.
#pragma once
#include <cstddef>

class ZEQEOSimulation;

enum ZEQRunMode { ZEQ_MODE_SIMULATION = 0, ZEQ_MODE_PARAM_EST = 1, ZEQ_MODE_DATA_RECON = 2, ZEQ_MODE_OPTIMIZATION = 3 };

struct rtotag {
    char* alias;     // the tag name
    char* variable;  // full name of the variable it stands for
};
struct rtotaglst;

struct hs_regex;

extern "C" {
// The current run mode; also written to *mode when given.
int rto_inq_mode_c(int* mode = nullptr);
// 0..3; -1 for another value (the mode stays).
int rto_set_mode_c(int mode);
void rtosignal_set_severity(int level);
int rtosignal_inq_severity(void);
// Asks a running solve to stop at its next iteration.
void rtosignal_set_ctrlc(void);
void rtosignal_clear_ctrlc(void);
int rtosignal_inq_ctrlc(void);

const char* rtoMajorVersion(void);
const char* rtoMinorVersion(void);
const char* rtoBuildNum(void);
const char* rtoBuildDate(void);
const char* rtoBuildUserName(void);

int rtotaglst_inq_ntag(const rtotaglst* list);
// 1-based; null outside 1..count.
const rtotag* rtotaglst_inq_tag(const rtotaglst* list, int t);

// Case-insensitive comparison (<0, 0, >0) and in-place upper-casing (returns s).
int stred_caseless_cmp(const char* a, const char* b);
char* stred_upper_case(char* s);
// Turns a glob (* ? [..]) into an anchored regular expression written from buf[1]; buf[0] is set to ' '.
// Returns 0, or -1 when buf is too small.
int stred_glob_to_regexp(const char* glob, char* buf, int size);

// POSIX extended regular expressions, caseless when icase != 0. Null on a bad pattern.
hs_regex* hs_regcomp(const char* pattern, int icase);
// 1 on a match, 0 otherwise.
int hs_regexec(const hs_regex* re, const char* text);
hs_regex* hs_regcopy(const hs_regex* re);
void hs_regfree(hs_regex* re);

// Questions about a variable of the simulation's flowsheet by 1-based index, in the current run mode.
int varIsFixed(ZEQEOSimulation* sim, int index);
int varIsIndependent(ZEQEOSimulation* sim, int index);
// Physical type id (0..148), -1 for an unknown index.
int varInqPhysicalType(ZEQEOSimulation* sim, int index);
}

// The same questions about a variable already loaded into a record (with SPEC, and the physical type id for
// the last one, in its mask). 0 / -1 when the record lacks the attribute.
class ZEQVariableData;
int varIsFixed(const ZEQVariableData* record);
int varIsIndependent(const ZEQVariableData* record);
int varInqPhysicalType(const ZEQVariableData* record);
// The same by a spec kind value (SPEC_* of zeq_records.h) in the current run mode.
int varIsFixed(int spec);
int varIsIndependent(int spec);
