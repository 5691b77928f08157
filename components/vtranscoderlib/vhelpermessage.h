#pragma once
// CVHelperMessage: one message of the report that the conversion helper writes to its parent
// over a pipe. The report is line-based text so that a helper run by hand can be read:
//
//     <type> <key>=<value> <key>=<value> ...\n
//
// Values are percent-encoded (bytes up to the space, '%', '=' and 0x7F become %XX), so that
// paths and messages of any content fit on one line. Types:
//     P  progress: pos (microseconds decoded), dur (microseconds; 0 unknown), frames
//     A  alive: the helper is finishing the file (written bytes), no new position
//     I  file information: the fields of SVMediaInfo
//     R  result: code (EVTranscodeResult), msg (UTF-8 text); the last message of the helper
//     X  exit: status (as waitpid gives it); added by the warm helper after its child's report
// Between the server and the warm helper, on their control socket (CVWarmHelper):
//     W  ready: the warm helper has started and serves (pid)
//     S  started: the job's child runs (pid; its pidfd travels with the message)
//     F  refused: the job was not started (msg)
// Readers ignore keys they do not know, so fields can be added later.
//
// Value type; one instance is used by one thread at a time.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class CVHelperMessage {
public:
    static constexpr char k_progress = 'P';
    static constexpr char k_alive = 'A';
    static constexpr char k_info = 'I';
    static constexpr char k_result = 'R';
    static constexpr char k_exit = 'X';
    static constexpr char k_ready = 'W';
    static constexpr char k_started = 'S';
    static constexpr char k_refused = 'F';

    // The descriptor on which the helper finds the write end of the report pipe.
    static constexpr int k_reportDescriptor = 3;

    explicit CVHelperMessage(char type) : m_type(type) {}

    // Parses one line (without its line break); nullopt when it is not a message.
    static std::optional<CVHelperMessage> Parse(std::string_view line);

    char Type() const { return m_type; }

    CVHelperMessage& Set(const std::string& key, std::string value);
    CVHelperMessage& Set(const std::string& key, int64_t value);
    CVHelperMessage& Set(const std::string& key, double value);

    // The value of a key; the fallback when the key is missing or not a number.
    std::string Text(const std::string& key) const;
    int64_t Integer(const std::string& key, int64_t fallback = 0) const;
    double Real(const std::string& key, double fallback = 0.0) const;
    bool Has(const std::string& key) const { return m_fields.count(key) != 0; }

    // The message as one line, with its line break.
    std::string Format() const;

private:
    char m_type;
    std::map<std::string, std::string> m_fields;
};
