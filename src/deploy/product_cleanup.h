// What OrvoCleanup removes of a product's content: on a complete removal
// the product's folders, otherwise the Orvos that installed ones supersede.
#pragma once

namespace orvo {

// The product's "Orvos" folder, the empty folders of INSTALLDIR, and the
// all-users folder when empty.
void RemoveProductFolders();
// Takes the superseded Orvos the index records out of the installed master
// document, with their folders beside it.
void RemoveSupersededOrvos();

}  // namespace orvo
