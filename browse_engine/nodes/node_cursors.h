// The two cursor shapes of the engine nodes: one over a range of positions whose names and entries
// come from a source, and one over a fixed list of child names.
#pragma once
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "browse/entry.h"
#include "browse/value.h"

namespace FI {

// Source provides: void NameAt(int32_t pos, FIValue& out); void EntryAt(int32_t pos, EntryHandle& out);
// int32_t Find(const char* name, int32_t first, int32_t end) -> the position found, or end.
// Positions run from first to end (exclusive); a done cursor clears names and yields the empty entry.
template <class Source>
class RangeCursor : public EntryCursor::CountedCursor {
public:
    RangeCursor(Source source, int32_t first, int32_t end)
        : source_(std::move(source)), first_(first), end_(end < first ? first : end), pos_(first_) {}

    EntryCursorBase* Clone() override { return new RangeCursor(source_, first_, end_, pos_); }
    bool First() override {
        pos_ = first_;
        return !IsDone();
    }
    bool Next() override {
        if (pos_ < end_) ++pos_;
        return !IsDone();
    }
    bool Seek(const char* name) override {
        First();
        if (name == nullptr) {
            pos_ = end_;
            return false;
        }
        int32_t found = source_.Find(name, first_, end_);
        pos_ = found >= first_ && found < end_ ? found : end_;
        return !IsDone();
    }
    bool IsFirst() override { return pos_ <= first_; }
    bool IsDone() override { return pos_ >= end_; }
    void CurrentName(FIValue& out) override {
        if (IsDone()) {
            out.Clear();
            return;
        }
        source_.NameAt(pos_, out);
    }
    void CurrentEntry(EntryHandle& out) override {
        if (IsDone()) {
            out = GetEmptyEntry();
            return;
        }
        source_.EntryAt(pos_, out);
        if (out.IsNull()) out = GetEmptyEntry();
    }

    // The linear search by exact name that most lists use.
    static int32_t FindByName(Source& source, const char* name, int32_t first, int32_t end) {
        FIValue current;
        for (int32_t p = first; p < end; ++p) {
            current.Clear();
            source.NameAt(p, current);
            if (current.IsText() && std::strcmp(current.GetString(), name) == 0) return p;
        }
        return end;
    }

private:
    RangeCursor(const Source& source, int32_t first, int32_t end, int32_t pos)
        : source_(source), first_(first), end_(end), pos_(pos) {}
    Source source_;
    int32_t first_;
    int32_t end_;
    int32_t pos_;
};

// Node provides MakeChild(int32_t position, const FIValue& name, EntryHandle& out). Names match ignoring case.
template <class Node, int32_t N>
class FixedListCursor : public EntryCursor::CountedCursor {
public:
    FixedListCursor(FIHandle<Node> node, const char* const (&names)[N], int32_t pos = 0)
        : node_(std::move(node)), names_(names), pos_(pos) {}

    EntryCursorBase* Clone() override { return new FixedListCursor(node_, names_, pos_); }
    bool First() override {
        pos_ = 0;
        return !IsDone();
    }
    bool Next() override {
        if (pos_ < N) ++pos_;
        return !IsDone();
    }
    bool Seek(const char* name) override {
        pos_ = N;
        if (name == nullptr) return false;
        for (int32_t i = 0; i < N; ++i) {
            if (strcasecmp(names_[i], name) == 0) {
                pos_ = i;
                break;
            }
        }
        return !IsDone();
    }
    bool IsFirst() override { return pos_ == 0; }
    bool IsDone() override { return pos_ >= N; }
    void CurrentName(FIValue& out) override {
        if (!IsDone()) out.SetString(names_[pos_]);
    }
    void CurrentEntry(EntryHandle& out) override {
        if (IsDone() || node_.IsNull()) {
            out = GetEmptyEntry();
            return;
        }
        node_->MakeChild(pos_, FIValue(names_[pos_]), out);
        if (out.IsNull()) out = GetEmptyEntry();
    }

private:
    FIHandle<Node> node_;
    const char* const (&names_)[N];
    int32_t pos_;
};

}  // namespace FI
