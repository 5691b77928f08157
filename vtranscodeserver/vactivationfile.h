#pragma once
// CVActivationFile: the session bus's activation file for the server
// ($XDG_DATA_HOME/dbus-1/services/com.zelto.VTranscodeServer.service), so that the bus starts
// the server ("<executable> -Embedding") when a client first calls it. Registration writes it
// (replacing the old one in one step), unregistration removes it.
//
// Failures raise CQException with the file's path. Stateless; any thread.

#include <string>

class CVActivationFile {
public:
    static std::wstring Path();
    static void Write(const std::wstring& executablePath);
    static void Remove();
};
