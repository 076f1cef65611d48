#include "host/MessageCatalogue.h"

#include <utility>

namespace zul::host {

std::string messageText(int number)
{
    static const std::pair<int, const char*> texts[] = {
        // Editor and Fast Path prompts.
        {2165, "The script cannot be run: a file name in it is not valid."},
        {3033, "The script is empty. Type the FTP commands of the event, or fetch a sample, "
               "before you go on."},
        {3165, "The script cannot be saved: a file name in it is not valid."},
        {3229, "Enter the IP address of the partner computer."},
        {3230, "Enter the user id to log on to the partner computer with."},
        {3231, "Enter both file paths: the file to transfer and the name it is to get."},
        {3281, "The FTP client event could not be processed."},
        // Run log.
        {4096, "A PUT command was switched off because its local file is empty."},
        {4107, "The partner computer did not answer."},
        {4111, "The local file of a PUT command does not exist; the runner will report the "
               "transfer as failed."},
        {4121, "The FTP runner was not started for this event."},
        {4122, "Check the partner address in the script's open command and the network path "
               "to the partner."},
        {4124, "The partner computer answered."},
        {4125, "The script was checked and handed to the FTP runner."},
        // Confirmations.
        {5001, "Run the script of event %1 (%2) now?"},
        {5002, "Run this script now? The event has not been saved yet."},
        // About the Windows sample, line by line.
        {1076, "The Windows sample, line by line: what the partner PC must provide."},
        {1077, "The partner runs an FTP server that accepts connections from this computer (port 21 "
               "unless you name another), and its firewall lets them in."},
        {1078, "open 192.0.2.10: the partner's IP address or host name; write a port number after it "
               "when the server does not listen on port 21."},
        {1079, "user ftpuser password: an account of the FTP server and its password. Windows user "
               "names may be written in any case; passwords may not."},
        {1080, "binary: files move byte for byte. Use it for archives, programs, pictures and anything "
               "else that is not plain text."},
        {1081, "cd /outbound: a folder of the FTP site, written with forward slashes from the site's "
               "root. The account must be allowed to read there."},
        {1082, "get sales.zip /srv/zul/in/sales.zip: the file on the partner, then the full local path "
               "it is stored as. The local folder must exist."},
        {1083, "cd /inbound: the folder that receives the files you send. The account must be allowed "
               "to write there."},
        {1084, "ascii: plain text. Windows ends lines with CR LF as this system does, so text arrives "
               "as it was written."},
        {1085, "put /srv/zul/out/prices.txt prices.txt: the local file to send, then its name on the "
               "partner. A file of that name is replaced if the account may overwrite it."},
        {1086, "quit: ends the session. Put your partner's address, account, folders and file names "
               "in place of the sample's before you save the script."},
        // About the AS/400 sample, line by line.
        {1087, "The AS/400 sample, line by line: what the partner must provide. Its FTP server must "
               "be started."},
        {1088, "open and user: the system's IP address or host name, and a user profile with its "
               "password that has authority to the library and files the script uses."},
        {1089, "quote site namefmt 1: path names in the form /QSYS.LIB/LIBRARY.LIB/FILE.FILE/"
               "MEMBER.MBR. The lines below are written in that form."},
        {1090, "cd /QSYS.LIB/SALES.LIB: the library that holds the files, its name in capitals."},
        {1091, "ascii, then get ORDERS.FILE/ORDERS.MBR /srv/zul/in/orders.txt: a member of a "
               "physical file, turned from the partner's EBCDIC into text. The member must exist."},
        {1092, "put /srv/zul/out/prices.txt PRICES.FILE/PRICES.MBR: create the physical file PRICES "
               "beforehand, with records long enough for the longest line; the member is then "
               "written. quit ends the session."},
    };
    for (const auto& [n, text] : texts)
        if (n == number)
            return text;
    return {};
}

} // namespace zul::host
