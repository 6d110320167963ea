#include "browse/notify.h"

#include <iterator>

#include "browse/error.h"

FIDocumentNotify::FIDocumentNotify(int32_t severity_, const FIValue& message_, int32_t position1_,
                                   int32_t position2_)
    : kind(severity_ == Warning ? GeneralWarning : severity_ == Information ? GeneralInformation : GeneralError),
      severity(severity_),
      message(message_),
      position1(position1_),
      position2(position2_) {}

int FIDocumentNotify::ArgumentCount() const {
    for (int i = 3; i > 0; --i) {
        if (!args[i - 1].IsEmpty()) return i;
    }
    return 0;
}

const char* FINotifyKindName(int32_t kind) {
    static const char* const kNames[] = {
        "GeneralInformation", "GeneralError",    "GeneralWarning",  "RunStarted", "RunStepCompleted",
        "RunCompleted",       "RunFailed",       "RunPaused",       "ActionStarted",
        "ActionCompleted",    "ActionFailed",    "DocumentClosed",  "Custom",
    };
    if (kind < 0 || kind >= static_cast<int32_t>(std::size(kNames))) return "UnknownEvent";
    return kNames[kind];
}

FIValue FormatNotification(const FIDocumentNotify& record) {
    FIValue line("FIDocumentNotify::");
    line.Append(FINotifyKindName(record.kind));
    switch (record.severity) {
        case FIDocumentNotify::Error: line.Append("-Error"); break;
        case FIDocumentNotify::Warning: line.Append("-Warning"); break;
        case FIDocumentNotify::Information: line.Append("-Information"); break;
        default: break;
    }
    int n = record.ArgumentCount();
    if (n > 0) {
        line.AppendChar('[');
        for (int i = 0; i < n; ++i) {
            if (i > 0) line.AppendChar(',');
            line.AppendValue(record.args[i]);
        }
        line.AppendChar(']');
    }
    if (record.message.TextLength() > 0) {
        line.Append(": ");
        line.AppendValue(record.message);
    }
    line.Append(".\n");
    return line;
}

void TraceNotification(const FIDocumentNotifyList& records) {
    for (const FIDocumentNotify& record : records) {
        FIValue line = FormatNotification(record);
        FI::DebugOutput(line.GetString());
    }
}

namespace FI {

namespace {
int32_t FieldValue(const FIDocumentNotify& record, uint32_t field) {
    switch (field) {
        case FIDocumentNotifyFilterBase::kSeverity: return record.severity;
        case FIDocumentNotifyFilterBase::kPosition1: return record.position1;
        case FIDocumentNotifyFilterBase::kPosition2: return record.position2;
        case FIDocumentNotifyFilterBase::kKind: return record.kind;
        default: return 0;
    }
}
}  // namespace

void FIDocumentNotifyFilterBase::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    conditions_.clear();
}

void FIDocumentNotifyFilterBase::AddCondition(uint32_t field, uint32_t op, int32_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    conditions_.push_back({field, op, value});
}

std::vector<FIDocumentNotifyFilterBase::Condition> FIDocumentNotifyFilterBase::Conditions() const {
    std::lock_guard<std::mutex> guard(lock_);
    return conditions_;
}

bool FIDocumentNotifyFilterBase::Matches(const FIDocumentNotify& record) const {
    std::lock_guard<std::mutex> guard(lock_);
    return MatchesLocked(record);
}

bool FIDocumentNotifyFilterBase::MatchesLocked(const FIDocumentNotify& record) const {
    for (const Condition& c : conditions_) {
        if (c.field == kEvery) return true;
        int32_t v = FieldValue(record, c.field);
        switch (c.op) {
            case kGreater:
                if (v > c.value) return true;
                break;
            case kEqual:
                if (v == c.value) return true;
                break;
            case kNotEqual:
                if (v != c.value) return true;
                break;
            default: break;
        }
    }
    return false;
}

void FIDocumentNotifyFilterBase::Apply(FIDocumentNotifyList& records) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (conditions_.empty()) return;
    std::erase_if(records, [this](const FIDocumentNotify& r) { return MatchesLocked(r); });
}

}  // namespace FI
