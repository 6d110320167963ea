// Batch attribute access: a request of attribute reads or writes over paths relative to a base path.
#pragma once
#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <string>
#include <vector>

namespace FI {
class FIDocument;
}

// A VARIANT that clears itself and deep-copies.
class FIVariant {
public:
    FIVariant() { VariantInit(&v_); }
    FIVariant(const FIVariant& other) : FIVariant() { VariantCopy(&v_, &other.v_); }
    FIVariant& operator=(const FIVariant& other) {
        if (this != &other) VariantCopy(&v_, &other.v_);
        return *this;
    }
    ~FIVariant() { VariantClear(&v_); }
    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* Receive() {
        VariantClear(&v_);
        return &v_;
    }

private:
    VARIANT v_;
};

struct FIAttributeRequestItem {
    int32_t pathIndex = 0;
    int32_t attributeIndex = 0;
    std::string units;  // empty: the entry's own unit
    FIVariant value;    // VT_EMPTY until read, or the value to write
};

class FIAttributeRequest {
public:
    FIAttributeRequest() = default;
    explicit FIAttributeRequest(FI::FIDocument* doc) : document(doc) {}

    // Appends an attribute name with its id from the document (42 without a document); returns its index.
    int32_t AddAttribute(const std::string& name);
    int32_t AddPath(const std::string& relativePath);
    FIAttributeRequestItem& AddItem(int32_t pathIndex, int32_t attributeIndex, const std::string& units = {});

    // The one-item request of a single read or write: the path as base, one empty relative path,
    // the attribute ("value" when null or empty).
    void MakeSingle(const char* path, const char* attribute, const char* units);

    // Fills the request from the arrays a COM client passes (see request.cpp for the shapes). The base
    // path is taken whole, by the BSTR's length, embedded NULs included.
    HRESULT FillFromArrays(BSTR basePath, SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                           bool forWrite);
    // A one-dimensional VARIANT array of the items' values, in item order.
    HRESULT ValuesToArray(SAFEARRAY** out) const;
    // The request as the arrays a document's COM face takes: paths and attribute names as texts,
    // tuples 3 x n (4 x n with the values when forWrite). The caller destroys the arrays.
    HRESULT ToArrays(SAFEARRAY** paths, SAFEARRAY** attributes, SAFEARRAY** tuples, bool forWrite) const;
    // Copies the values array of a read into the items, in order.
    HRESULT ValuesFromArray(SAFEARRAY* values);

    std::string basePath;
    std::string substituteFrom;
    std::string substituteTo;
    std::vector<std::string> relativePaths;
    std::vector<std::string> attributeNames;
    std::vector<uint32_t> attributeIds;
    std::vector<FIAttributeRequestItem> items;
    FI::FIDocument* document = nullptr;
};

struct IPDXDocumentV22;

namespace FI {
class FIDocumentBase_;
// Sends the request to another document through its COM face (with the substitution pair when the
// request has one); a read stores the answers in the items.
HRESULT ForwardRequest(IPDXDocumentV22* delegate, FIAttributeRequest& request, bool write);
// Reads or writes every item of the request through the document's entries.
HRESULT ProcessBatchRequest(FIDocumentBase_& document, FIAttributeRequest& request, bool write);
}  // namespace FI
