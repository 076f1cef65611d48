#include "host/MessageCatalogue.h"

#include <QHash>

namespace zul::host {

QString messageText(int number)
{
    static const QHash<int, QString> texts = {
        // Editor and Fast Path prompts.
        {2165, QStringLiteral("The script cannot be run: a file name in it is not valid.")},
        {3033, QStringLiteral("The script is empty. Type the FTP commands of the event, or fetch a sample, "
                              "before you go on.")},
        {3165, QStringLiteral("The script cannot be saved: a file name in it is not valid.")},
        {3229, QStringLiteral("Enter the IP address of the partner computer.")},
        {3230, QStringLiteral("Enter the user id to log on to the partner computer with.")},
        {3231, QStringLiteral("Enter both file paths: the file to transfer and the name it is to get.")},
        {3281, QStringLiteral("The FTP client event could not be processed.")},
        // Run log.
        {4096, QStringLiteral("A PUT command was switched off because its local file is empty.")},
        {4107, QStringLiteral("The partner computer did not answer.")},
        {4111, QStringLiteral("The local file of a PUT command does not exist; the runner will report the "
                              "transfer as failed.")},
        {4121, QStringLiteral("The FTP runner was not started for this event.")},
        {4122, QStringLiteral("Check the partner address in the script's open command and the network path "
                              "to the partner.")},
        {4124, QStringLiteral("The partner computer answered.")},
        {4125, QStringLiteral("The script was checked and handed to the FTP runner.")},
        // Confirmations.
        {5001, QStringLiteral("Run the script of event %1 (%2) now?")},
        {5002, QStringLiteral("Run this script now? The event has not been saved yet.")},
        // About the Windows sample.
        {1076, QStringLiteral("Windows partner sample")},
        {1077, QStringLiteral("The partner runs an FTP server service, for example the one of its web server.")},
        {1078, QStringLiteral("open names the partner's address; user gives the account and its password.")},
        {1079, QStringLiteral("Paths on the partner use / or \\ as the server accepts them.")},
        {1080, QStringLiteral("binary keeps the bytes of a file exactly; ascii converts line ends.")},
        {1081, QStringLiteral("put sends a local file; the second name is the name on the partner.")},
        {1082, QStringLiteral("get collects a file; the second name is where it is stored here.")},
        {1083, QStringLiteral("A received file lands in the Junction folder first and is delivered once it is "
                              "complete.")},
        {1084, QStringLiteral("Options of the event: do not send empty files, refuse empty received files, "
                              "compare sizes.")},
        {1085, QStringLiteral("quit ends the session; the editor adds it when it is missing.")},
        {1086, QStringLiteral("Every run is logged; see the event's run log for the outcome.")},
        // About the AS/400 sample.
        {1087, QStringLiteral("AS/400 partner sample")},
        {1088, QStringLiteral("The partner's FTP server names files LIBRARY/FILE.MEMBER in its native format.")},
        {1089, QStringLiteral("quote site namefmt 1 switches the server to path names such as "
                              "/QSYS.LIB/LIB.LIB/FILE.FILE.")},
        {1090, QStringLiteral("ascii converts between the partner's EBCDIC and the local code page.")},
        {1091, QStringLiteral("A physical file must exist on the partner before a member is sent into it.")},
        {1092, QStringLiteral("quit ends the session; the editor adds it when it is missing.")},
    };
    return texts.value(number);
}

} // namespace zul::host
