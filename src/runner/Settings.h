#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zul::runner {

// VelundZUL.conf in the application folder: "KEY = value" lines, '#' or ';'
// comments, and "[HOST]" sections whose keys apply to that partner only.
// Keys are case-insensitive; the environment's ZUL_RUNNER_<KEY> wins over both.
class ConfigFile {
public:
    ConfigFile() = default;
    // A missing file is an empty configuration; one that cannot be read fills error.
    // One that someone other than this user or root could have written is
    // refused: empty, refused() true and error saying how to fix it.
    static ConfigFile read(const std::string& path, std::string* error = nullptr);
    static ConfigFile parse(const std::string& text);
    bool refused() const { return m_refused; }

    // The value for key: environment, then the host's section, then the global part.
    std::optional<std::string> value(const std::string& key, const std::string& host = {}) const;

    // Every "KEY = value" line as written, for finding bad values.
    struct Entry {
        std::string section; // "" for the global part
        std::string key;     // in capitals
        std::string value;
        int line = 0;
    };
    const std::vector<Entry>& entries() const { return m_entries; }

private:
    std::vector<Entry> m_entries;
    std::map<std::string, std::map<std::string, std::string>> m_sections; // "" is the global part
    bool m_refused = false;
};

// Limits that keep every run finite, and the settings that depend on the partner.
struct Settings {
    std::chrono::seconds connectTimeout{30};
    std::chrono::seconds replyTimeout{120};
    std::chrono::seconds stallTimeout{120};  // no byte moved for this long ends a transfer
    std::chrono::seconds deadline{6 * 3600}; // the whole run, lock wait included
    int retries = 3;
    std::chrono::milliseconds backoff{2000}; // doubled after each retry
    // The longest one command goes on retrying after its first failure; the
    // time-outs of a late attempt shrink to what is left of it.
    std::chrono::seconds retryBudget{120};
    // A listing longer than either is refused: the server does not decide how much memory the runner takes.
    long listMaxNames = 100000;
    long listMaxBytes = 16L * 1024 * 1024;
    bool syncReceived = true;                // received files reach the disk before they are renamed into place
    bool statusRecord = true;                // the running run's status in Lock/ (0: for measuring its cost only)

    // Trust and keys, per partner. Empty caFile: the system's CA store.
    std::string caFile;     // CA_FILE: PEM bundle of the CAs that may sign the partner's certificate
    std::string pinnedKey;  // PINNED_KEY: "sha256//BASE64" (or a PEM/DER public key file) the certificate must carry
    // TLS_MAX: 1.3 (default) or 1.2. Every server of the interoperability matrix takes whole
    // uploads over TLS 1.3, and stock vsftpd with an ECDSA key speaks nothing else.
    std::string tlsMax = "1.3";
    std::string knownHosts; // KNOWN_HOSTS: OpenSSH known_hosts, ~/.ssh/known_hosts by default
    std::string sshKey;     // SSH_KEY: private key; ~/.ssh/id_ed25519, else ~/.ssh/id_rsa
    ConfigFile source;      // what these came from, to resolve them again for a partner

    // ON_FAILURE: a command run after a failed run (mail, a chat webhook, a ticket); its words are
    // split as a script line's, and it starts without a shell. ON_FAILURE_TIMEOUT bounds it.
    std::string onFailure;
    std::chrono::seconds onFailureTimeout{60};

    // How uploads reach the partner, per partner. UPLOAD_TEMP: off, or under a temporary name
    // (NAME.zulpart, or .zulpart.NAME) renamed once whole and checked; off by default, since
    // some partners (mainframe data sets) cannot rename. VERIFY: size, hash or off. RESUME: an
    // interrupted transfer continues where it stopped. KEEP_TIME: uploads keep the local time.
    enum class UploadTemp { Off, Suffix, Prefix };
    enum class Verify { Off, Size, Hash };
    UploadTemp uploadTemp = UploadTemp::Off;
    Verify verify = Verify::Size;
    bool resume = true;
    bool keepTime = false;

    // The same settings with the partner's section applied.
    Settings forPartner(const std::string& host) const { return fromConfig(source, host); }

    // The file's global part (and host's section when given), the environment over it.
    static Settings fromConfig(const ConfigFile& config, const std::string& host = {});
};

// Values that cannot be used, each a line for the transcript and for --check:
// a number that is not a whole number of 0 or more, a word a key does not know.
// The run goes on with the key's default. line is the file's, 0 for the environment's values.
struct SettingProblem {
    int line = 0;
    std::string message;
};
std::vector<SettingProblem> settingsProblems(const ConfigFile& config);

} // namespace zul::runner
