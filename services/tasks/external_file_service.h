// Reading variable values into the flowsheet from block files and variable files, and telling a client
// what such a file holds.
#pragma once
#include <cstdint>

#include "task_service.h"

namespace nuv::varfile {

// The variable attribute bit of variable-file attribute index 1..27; 0 outside.
uint32_t AttributeBit(int index);
// The variable attribute bit of block-file mask slot 1..24; 0 outside.
uint32_t SlotBit(int slot);

}  // namespace nuv::varfile

class CoNUVExternalFileService
    : public nuv::TaskServiceBase<CoNUVExternalFileService, INUVExternalFileService, &CLSID_NUVExternalFileService> {
public:
    static constexpr const char* kErrorSource = "NUVExternalFileService";
    using ComMap = CComMap<ComEntryChain<INUVExternalFileService>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    STDMETHOD(QueryContents)(BSTR filename, NUVExternalFileType type, LONG* attributes, SAFEARRAY** blockIds) override;
    STDMETHOD(Import)(BSTR filename, NUVExternalFileType type, LONG attributes, BSTR blockid, BSTR match,
                      BSTR substitute, VARIANT_BOOL usescope) override;
    STDMETHOD(Export)(BSTR filename, NUVExternalFileType type, LONG attributes, SAFEARRAY* blockIds) override;

private:
    HRESULT InvalidSimulation() const;
    static HRESULT UnknownType(NUVExternalFileType type);
};
