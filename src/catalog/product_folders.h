// The product's folders as the installer resolved them, for the hand-over
// to the deferred actions: they may not take a folder from the index that
// is not one of these.
#pragma once
#include "catalog/orvo_model.h"
#include "documents/text_lists.h"

namespace orvo {

// The target folder (after CostFinalize) of every directory the index
// records for the product: "INDEXED_DIRECTORIES", "INDEXED_PERUSERDIRS",
// those the catalogue's cabinets extract into and "LocalAppDataFolder";
// the property's value for a name that is no directory of the package.
// Absolute folders only, each once, none holding "|".
TextList ResolveProductFolders(const OrvoCatalog& catalog);

}  // namespace orvo
