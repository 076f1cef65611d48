// The editor's view and fetch buttons: existing scripts and samples shown in
// the sample viewer.
#include "ui/editor/frmZULINF.h"

void frmZULINF::cmdViewSCP_Click() {}
void frmZULINF::cmdFETCHscp_Click() {}
void frmZULINF::mnuwinsmpl_Click() {}
void frmZULINF::mnuassmpl_Click() {}
void frmZULINF::mnuunsmpl_Click() {}
void frmZULINF::mnumainsmpl_Click() {}
