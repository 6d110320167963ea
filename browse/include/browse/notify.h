// Notification records that documents deliver to subscribers, and the filter that removes some of them.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include "browse/value.h"

struct FIDocumentNotify {
    enum Kind : int32_t {
        GeneralInformation = 0,
        GeneralError = 1,
        GeneralWarning = 2,
        RunStarted = 3,
        RunStepCompleted = 4,
        RunCompleted = 5,
        RunFailed = 6,
        RunPaused = 7,
        ActionStarted = 8,
        ActionCompleted = 9,
        ActionFailed = 10,
        DocumentClosed = 11,
        Custom = 12,
    };
    enum Severity : int32_t { Error = 1, Warning = 2, Information = 3 };

    FIDocumentNotify() = default;
    // The kind follows from the severity: warning, information, or error for anything else.
    FIDocumentNotify(int32_t severity, const FIValue& message, int32_t position1 = -1, int32_t position2 = -1);

    // Index of the last non-empty argument plus one.
    int ArgumentCount() const;

    int32_t kind = GeneralInformation;
    int32_t severity = Information;
    FIValue message;
    FIValue args[3];
    int32_t position1 = -1;
    int32_t position2 = -1;
};

using FIDocumentNotifyList = std::vector<FIDocumentNotify>;

// The trace word of a kind ("UnknownEvent" outside the table).
const char* FINotifyKindName(int32_t kind);
// The debugger line of one record, ending in ".\n".
FIValue FormatNotification(const FIDocumentNotify& record);
// Writes one debugger line per record, in list order.
void TraceNotification(const FIDocumentNotifyList& records);

namespace FI {

class FIDocumentNotifyFilter {
public:
    virtual void Clear() = 0;
    virtual void AddCondition(uint32_t field, uint32_t op, int32_t value) = 0;

protected:
    ~FIDocumentNotifyFilter() = default;
};

class FIDocumentNotifyFilterBase : public FIDocumentNotifyFilter {
public:
    enum Field : uint32_t { kSeverity = 0, kPosition1 = 1, kPosition2 = 2, kKind = 3, kEvery = 4 };
    enum Op : uint32_t { kGreater = 0, kEqual = 1, kNotEqual = 2 };
    struct Condition {
        uint32_t field;
        uint32_t op;
        int32_t value;
    };

    // Clients change the filter while engine threads apply it: every operation is locked.
    FIDocumentNotifyFilterBase() = default;
    virtual ~FIDocumentNotifyFilterBase() = default;

    void Clear() override;
    void AddCondition(uint32_t field, uint32_t op, int32_t value) override;

    bool Matches(const FIDocumentNotify& record) const;
    // Removes every matching record in place; the others keep their order.
    void Apply(FIDocumentNotifyList& records) const;
    std::vector<Condition> Conditions() const;

private:
    bool MatchesLocked(const FIDocumentNotify& record) const;
    mutable std::mutex lock_;
    std::vector<Condition> conditions_;
};

}  // namespace FI
