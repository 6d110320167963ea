// Entry points of the block views: the list of a container's blocks and the list of the engine's
// global parameters, as the application-model node and hierarchy block nodes hand them out.
#pragma once
#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/engine_anchor.h"

class ZEQEOCntr;

namespace FI {

class FIDocument;

// The "Blocks List" node over the blocks of the anchored container; document owns the node, name is its
// browsing name. The form taking a container is for nodes made outside an engine document (the caller
// keeps the container alive while they are used); a null container gives the empty entry.
EntryHandle CreateBlocksNode(FIDocument* document, const FIValue& name, const EngineAnchor& container);
EntryHandle CreateBlocksNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container);

// The "Global Parameters List" node; values are read and written through the container's parameter table.
EntryHandle CreateGlobalParamListNode(FIDocument* document, const FIValue& name, const EngineAnchor& container);
EntryHandle CreateGlobalParamListNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container);

// Makes the "Connections" child of a hierarchy block over its own container. The connection views
// install theirs when the library loads; until then a hierarchy block's "Connections" is the empty entry.
using ContainerListFactory = EntryHandle (*)(FIDocument* document, const FIValue& name,
                                             const EngineAnchor& container);
void SetConnectionListFactory(ContainerListFactory factory);

}  // namespace FI
