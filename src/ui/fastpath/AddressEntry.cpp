#include "ui/fastpath/AddressEntry.h"

#include "ui/fastpath/frmFast_Path.h"

#include <QComboBox>

namespace zul::ui {

bool addressKeyAllowed(int keyAscii)
{
    return (keyAscii >= '0' && keyAscii <= '9') || keyAscii == '.' || keyAscii == 8;
}

bool addressTextRejected(const QString& text)
{
    if (text.isEmpty())
        return false;
    const QChar last = text.back();
    return !(last == QLatin1Char('.') || (last >= QLatin1Char('0') && last <= QLatin1Char('9')));
}

} // namespace zul::ui

void frmFast_Path::cmbPtnIPAdr_KeyPress(int& KeyAscii)
{
    if (!zul::ui::addressKeyAllowed(KeyAscii))
        KeyAscii = 0;
}

// Setting the text runs this once more, and the empty text ends it.
void frmFast_Path::cmbPtnIPAdr_Change()
{
    if (zul::ui::addressTextRejected(cmbPtnIPAdr->currentText()))
        setBoxText(cmbPtnIPAdr, QString());
}
