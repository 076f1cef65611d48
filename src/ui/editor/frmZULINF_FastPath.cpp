// The editor's Fast Path button.
#include "ui/editor/frmZULINF.h"

void frmZULINF::cmdFastpath_Click() {}
